// Tests of the displacement stage.
