// Keeps the once-compiled object library non-empty.
