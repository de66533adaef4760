// Keeps the test-kit library buildable while it has no sources of its own.
