CREATE TABLE t([x] INT, `y` INT, CHECK (x < y) /* CHECK (z) */ -- CHECK (w)
)