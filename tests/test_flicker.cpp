// Tests of the flicker stage.
