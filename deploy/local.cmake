# Local deployment: the platform simulator on the loopback interface.
set(HOPWELL_SIMULATOR_HOST "127.0.0.1")
