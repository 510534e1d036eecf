# Deployment data (server addresses, allow-list, keys) chosen at configure time.
set(HOPWELL_DEPLOYMENT_FILE ${CMAKE_SOURCE_DIR}/deploy/${HOPWELL_DEPLOYMENT}.cmake)
if(NOT EXISTS ${HOPWELL_DEPLOYMENT_FILE})
  message(FATAL_ERROR "No deployment file ${HOPWELL_DEPLOYMENT_FILE}")
endif()
include(${HOPWELL_DEPLOYMENT_FILE})
