# Production deployment template: replace the placeholders with the platform's real hosts
# before configuring with -DHOPWELL_DEPLOYMENT=production.
set(HOPWELL_ALLOWED_PREFIXES
  "https://platform.example.invalid"
  "https://secure.example.invalid"
  "https://apps.example.invalid")

set(HOPWELL_SECURE_SERVER_URL "https://secure.example.invalid")
set(HOPWELL_TEST_URL "${HOPWELL_SECURE_SERVER_URL}/login/index.html")
set(HOPWELL_TEST_HEADER_VALUE "asdf")
# 64 printable characters issued by the support desk.
set(HOPWELL_SUPPORT_API_KEY "REPLACE-WITH-THE-64-CHARACTER-SUPPORT-API-KEY-ISSUED-BY-SUPPORT!")
# The support desk's address, named in the crash message.
set(HOPWELL_SUPPORT_EMAIL "support@example.invalid")
set(HOPWELL_APPCAST_URL "https://apps.example.invalid/apps/hopwell/appcast.xml")

# Public hosts are verified against the system's CA store alone (HOPWELL_CA_FILE can add
# a file at run time).
set(HOPWELL_USER_CA_FILE "")
