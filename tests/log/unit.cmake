# unit tests (no display, no port)
