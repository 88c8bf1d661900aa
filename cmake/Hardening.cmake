# Hardening and reproducibility of the Windows builds: the flags a Windows engineer expects of a
# shipped exe, and nothing of the build machine (time, folders) in its bytes.
if(NOT WIN32)
  return()
endif()

# Vista is the oldest Windows that has every function the exe imports (release/check_exe.py lists
# them and checks this); the subsystem version tells the loader so.
set(AUTOBACKUP_WINDOWS_VERSION 6.0 CACHE INTERNAL "The oldest Windows the exe runs on")
string(REPLACE "." ";" windows_version "${AUTOBACKUP_WINDOWS_VERSION}")
list(GET windows_version 0 windows_major)
list(GET windows_version 1 windows_minor)

add_compile_options(-fstack-protector-strong)
# Build folders differ between two builds of one commit; file names in the objects must not.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.
                    -ffile-prefix-map=${PROJECT_BINARY_DIR}=build)
add_link_options(
  -fstack-protector-strong
  # No time stamp in the PE header: the checksum then depends on the bytes alone.
  LINKER:--no-insert-timestamp
  # The runtime libraries are built a function to a section: leave out what nothing calls.
  LINKER:--gc-sections
  LINKER:--tsaware
  LINKER:--dynamicbase
  LINKER:--nxcompat
  LINKER:--major-subsystem-version,${windows_major}
  LINKER:--minor-subsystem-version,${windows_minor}
  LINKER:--major-os-version,${windows_major}
  LINKER:--minor-os-version,${windows_minor})
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  add_link_options(LINKER:--high-entropy-va)
else()
  add_link_options(LINKER:--large-address-aware)
endif()
