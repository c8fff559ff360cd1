SELECT ?, :name, :name FROM t WHERE a = ? -- ?
; INSERT INTO t VALUES (?)