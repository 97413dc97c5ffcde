// Builtin engine.
