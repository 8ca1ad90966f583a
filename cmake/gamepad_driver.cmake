# The gamepad bus driver's installer that the host accepts: its file name in drivers/ and its SHA-256.
# The one place both live: the host's build writes them into gamepad_driver.h, and the packaging
# checks the installer it is given against them (cmake/package_checks.cmake).
set(CORVANE_GAMEPAD_DRIVER_NAME "ViGEmBus_1.22.0_x64_x86_arm64.exe")
set(CORVANE_GAMEPAD_DRIVER_SHA256 "89220a7865076b342892f98865f3499fb7c4cfd673159e89d352c360fd014c6a")
