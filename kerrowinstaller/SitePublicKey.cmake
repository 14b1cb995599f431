# Writes the header that builds the service's script key into
# KerrowInstaller.dll (the public half of <build>/site/site.key, which also
# goes into "Mirvane.cfg" as "PublicKey"):
#   cmake -DKEY_FILE=<build>/site/site.pub -DOUT=<dir>/SitePublicKey.h -P SitePublicKey.cmake
foreach(var KEY_FILE OUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "SitePublicKey.cmake: ${var} is not set")
  endif()
endforeach()
file(STRINGS "${KEY_FILE}" key LIMIT_COUNT 1)
string(STRIP "${key}" key)
if(NOT key MATCHES "^[A-Za-z0-9+/]+=*$")
  message(FATAL_ERROR "${KEY_FILE} holds no base64 key")
endif()
file(CONFIGURE OUTPUT "${OUT}" @ONLY CONTENT [[
#pragma once
// Made by kerrowinstaller/SitePublicKey.cmake from the build's site.pub: the
// key (base64 Ed25519) the service of this build signs its web scripts with.
inline constexpr char kSitePublicKey[] = "@key@";
]])
