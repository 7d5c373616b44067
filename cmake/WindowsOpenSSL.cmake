# The windows build's OpenSSL: static libraries, found by find_package(OpenSSL). Unless
# OPENSSL_ROOT_DIR names one (vcpkg, MSYS2, another prefix), it is the one that
# scripts/openssl-mingw builds into this machine's cache folder ($KZB_CACHE_DIR, else
# ${XDG_CACHE_HOME:-$HOME/.cache}/kzbdka), followed through its openssl-mingw64 link.
set(OPENSSL_USE_STATIC_LIBS TRUE)

if(NOT OPENSSL_ROOT_DIR AND DEFINED ENV{OPENSSL_ROOT_DIR})
  set(OPENSSL_ROOT_DIR "$ENV{OPENSSL_ROOT_DIR}")
elseif(NOT OPENSSL_ROOT_DIR)
  if(DEFINED ENV{KZB_CACHE_DIR})
    set(_kzb_cache "$ENV{KZB_CACHE_DIR}")
  elseif(DEFINED ENV{XDG_CACHE_HOME} AND NOT "$ENV{XDG_CACHE_HOME}" STREQUAL "")
    set(_kzb_cache "$ENV{XDG_CACHE_HOME}/kzbdka")
  else()
    set(_kzb_cache "$ENV{HOME}/.cache/kzbdka")
  endif()
  if(EXISTS "${_kzb_cache}/openssl-mingw64/lib/libssl.a")
    file(REAL_PATH "${_kzb_cache}/openssl-mingw64" _kzb_openssl)
    set(OPENSSL_ROOT_DIR "${_kzb_openssl}")
  endif()
endif()

if(OPENSSL_ROOT_DIR)
  # A new version behind the link: search again rather than keep the old one's paths.
  if(NOT "${OPENSSL_ROOT_DIR}" STREQUAL "${_KZB_OPENSSL_SEARCHED}")
    unset(OPENSSL_INCLUDE_DIR CACHE)
    unset(LIB_EAY CACHE)
    unset(SSL_EAY CACHE)
    set(_KZB_OPENSSL_SEARCHED "${OPENSSL_ROOT_DIR}" CACHE INTERNAL "")
  endif()
  # The toolchain searches only below its find root.
  list(APPEND CMAKE_FIND_ROOT_PATH "${OPENSSL_ROOT_DIR}")
endif()
