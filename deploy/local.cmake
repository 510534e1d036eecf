# Local deployment: the platform simulator on the loopback interface (tools/simulator).
set(HOPWELL_SIMULATOR_HOST "127.0.0.1")
set(HOPWELL_SIMULATOR_HTTP_PORT 18080)
set(HOPWELL_SIMULATOR_HTTPS_PORT 18443)

# scheme://host[:port] prefixes the client may talk to (at most 16). Only their MD5 digests
# end up in the binary.
set(HOPWELL_ALLOWED_PREFIXES
  "http://127.0.0.1:18080"
  "https://127.0.0.1:18443"
  "http://localhost:18080"
  "https://localhost:18443")

# The platform's secure server: test page, support tickets and the update feed live there.
set(HOPWELL_SECURE_SERVER_URL "https://127.0.0.1:18443")
set(HOPWELL_TEST_URL "${HOPWELL_SECURE_SERVER_URL}/login/index.html")
set(HOPWELL_TEST_HEADER_VALUE "asdf")
set(HOPWELL_SUPPORT_API_KEY "LocalSimulatorSupportKey-0123456789-abcdefghijklmnopqrstuvwxyz.!")
# The support desk's address, named in the crash message.
set(HOPWELL_SUPPORT_EMAIL "support@kelvory.example")
set(HOPWELL_APPCAST_URL "${HOPWELL_SECURE_SERVER_URL}/apps/hopwell/appcast.xml")

# The simulator's certificates are issued by a test CA that it makes on first start in the
# user's data folder; the client trusts that CA besides the system's store, the way a
# corporate CA would be trusted. Verification stays on. The path is relative to
# $XDG_DATA_HOME (else ~/.local/share); HOPWELL_CA_FILE names another file at run time.
set(HOPWELL_USER_CA_FILE "Kelv/simulator-ca/ca.pem")
