// Tests of the gate_weave stage.
