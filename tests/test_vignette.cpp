// Tests of the vignette stage.
