// Filled in by the Linux backend work.
