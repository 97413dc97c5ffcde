// Builtin engine: filled in as it is built.
