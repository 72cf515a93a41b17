# tests that need the window, a port or both
