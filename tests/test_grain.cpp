// Tests of the grain stage.
