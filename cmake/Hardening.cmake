# Every build is hardened the way Debian builds its packages (dpkg-buildflags with
# hardening=+all): checked libc calls, stack protector and stack clash protection,
# control-flow protection, a position-independent executable, and read-only relocations
# bound at start. Included with HOPWELL_HARDENING (the package preset);
# tests/desktop/test_package_inputs.py builds a probe with this file and checks it for them.
include(CheckPIESupported)
check_pie_supported(LANGUAGES C CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong -fstack-clash-protection -Wformat
                    -Werror=format-security)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i[3-6]86)$")
  add_compile_options(-fcf-protection)
endif()
# The fortified calls need optimisation; the sanitizers bring checks of their own for them.
if(NOT HOPWELL_SANITIZE AND NOT HOPWELL_TSAN)
  add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                      $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=2>)
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
