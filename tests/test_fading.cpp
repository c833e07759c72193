// Tests of the fading stage.
