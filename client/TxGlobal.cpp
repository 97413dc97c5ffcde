// Unit placeholder: filled in as the unit is built.
