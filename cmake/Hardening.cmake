# Debian's hardening flags, as `DEB_BUILD_MAINT_OPTIONS=hardening=+all
# dpkg-buildflags` gives them, for every program and library of the build
# (docs/packaging.md says why here rather than read from dpkg-buildflags).
include(CheckPIESupported)
check_pie_supported(OUTPUT_VARIABLE pie_message LANGUAGES CXX)
if(NOT CMAKE_CXX_LINK_PIE_SUPPORTED)
    message(FATAL_ERROR "WAKORA_HARDEN: the linker cannot make position-independent programs: ${pie_message}")
endif()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# fortify: checked variants of the C library's string and memory functions.
# -U first: a compiler that defines it itself would otherwise warn of a redefinition.
add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2)
# stackprotector; format (its warning is an error as dpkg-buildflags makes it).
add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
# stackclash, and branchprotection's x86 counterpart (hardening=+all).
add_compile_options(-fstack-clash-protection)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|i[3-6]86)$")
    add_compile_options(-fcf-protection)
endif()
# relro and bindnow, for programs and the library alike.
add_link_options(LINKER:-z,relro LINKER:-z,now)
