# update.exe is the shipped program and is built for size, apart from the
# tests' build of the same sources:
# - its own copy of the core, compiled like the window code for link-time
#   optimisation (whatever the program does not reach is left out), without
#   RTTI (the updater uses neither dynamic_cast nor typeid) and without guards
#   for local statics (only the user-interface thread runs the program's code);
# - the C++ runtime of the compiler's win32 thread model when it is installed:
#   the posix one, which GoogleTest needs, brings winpthread along, and the
#   updater starts no threads; for the same reason its per-thread state is
#   kept in plain statics (UPDATE_ONE_THREAD), without emulated thread-local storage;
# - switches as chains of comparisons, not tables, and no early inlining of
#   small functions into every caller (about 5 KB less; the updater's time goes
#   to zlib, built apart, and to the disk); -Oz: shorter encodings where they
#   take more instructions, such as small constants pushed and popped (1.5 KB
#   less; the CRC-32's loop comes out the same); the stack kept aligned to 4
#   bytes, all that Windows promises a 32-bit thread, instead of frames padded
#   to 16 (no code of the updater or its libraries needs more; 1 KB less code);
# - stack protection as in the tests' builds (-strong): every function with an
#   array or a local whose address is taken, which covers the functions that
#   call Windows with an out parameter; it costs 8 KB over guarding character
#   buffers alone, which the size budget allows;
# - no symbols, and no sections of the runtime libraries that nothing refers to.
#   The relocations stay: Windows loads the image at a random address.
# GCC 12 fails on some link-time partitions of PE objects; one partition avoids that.
set(UPDATER_SIZE_FLAGS -Oz -fno-rtti -fno-threadsafe-statics -fno-jump-tables -fno-early-inlining
    -fstack-protector-strong)
# The 4-byte stack alignment holds for the 32-bit program only: the 64-bit ABI
# requires 16 bytes, and the compiler accepts nothing less there.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND UPDATER_SIZE_FLAGS -mpreferred-stack-boundary=2)
endif()

add_library(update_core_small STATIC ${CORE_SOURCES})
target_include_directories(update_core_small PUBLIC ${CMAKE_SOURCE_DIR}/src ${CMAKE_SOURCE_DIR})
get_target_property(CORE_LINK_LIBRARIES update_core INTERFACE_LINK_LIBRARIES)
# No exception passes through zlib's C code (it calls only its allocation
# functions, malloc and free, and the updater's checksums, none of which
# throw), so the 32-bit updater links a copy without its unwinding tables (1.5 KB).
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND ZLIB_LIBRARY_RELEASE)
  set(UPDATER_ZLIB ${CMAKE_BINARY_DIR}/libz-without-unwinding.a)
  add_custom_command(OUTPUT ${UPDATER_ZLIB}
    COMMAND ${CMAKE_OBJCOPY} --remove-section=.eh_frame ${ZLIB_LIBRARY_RELEASE} ${UPDATER_ZLIB}
    DEPENDS ${ZLIB_LIBRARY_RELEASE})
  add_custom_target(updater_zlib DEPENDS ${UPDATER_ZLIB})
  list(TRANSFORM CORE_LINK_LIBRARIES REPLACE "^ZLIB::ZLIB$" "${UPDATER_ZLIB}")
endif()
target_link_libraries(update_core_small PUBLIC ${CORE_LINK_LIBRARIES})
if(TARGET updater_zlib)
  add_dependencies(update_core_small updater_zlib)
endif()
target_compile_options(update_core_small PRIVATE ${UPDATER_SIZE_FLAGS})
target_compile_options(update PRIVATE ${UPDATER_SIZE_FLAGS})
target_compile_definitions(update_core_small PRIVATE UPDATE_ONE_THREAD)
target_compile_definitions(update PRIVATE UPDATE_ONE_THREAD)
set_target_properties(update_core_small update PROPERTIES INTERPROCEDURAL_OPTIMIZATION ON)

get_target_property(UPDATER_LINK_LIBRARIES update LINK_LIBRARIES)
list(TRANSFORM UPDATER_LINK_LIBRARIES REPLACE "^update_core$" "update_core_small")
set_property(TARGET update PROPERTY LINK_LIBRARIES ${UPDATER_LINK_LIBRARIES})

string(REPLACE "-posix" "-win32" UPDATER_RUNTIME_COMPILER "${CMAKE_CXX_COMPILER}")
if(NOT UPDATER_RUNTIME_COMPILER STREQUAL CMAKE_CXX_COMPILER AND EXISTS "${UPDATER_RUNTIME_COMPILER}")
  execute_process(COMMAND "${UPDATER_RUNTIME_COMPILER}" -print-file-name=libstdc++.a
    OUTPUT_VARIABLE UPDATER_RUNTIME_LIBRARY OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(UPDATER_RUNTIME_DIR "${UPDATER_RUNTIME_LIBRARY}" DIRECTORY)
  if(EXISTS "${UPDATER_RUNTIME_DIR}/libstdc++.a")
    target_link_options(update PRIVATE "-L${UPDATER_RUNTIME_DIR}")
  endif()
endif()
target_link_options(update PRIVATE ${UPDATER_SIZE_FLAGS} -flto-partition=one -s -Wl,--gc-sections)
# The stack-protection entry points, the C personality routine and the frame
# registry are called by code that the compiler generates or by the runtime's
# own objects, which link-time optimisation does not see as uses.
set_source_files_properties(${CMAKE_SOURCE_DIR}/src/driver/Windows/StackGuard.cpp
  ${CMAKE_SOURCE_DIR}/src/driver/Windows/Personality.cpp ${CMAKE_SOURCE_DIR}/src/driver/Windows/FrameTables.cpp
  PROPERTIES COMPILE_OPTIONS -fno-lto)
# That routine's stand-in and the frame registry serve the 32-bit build's DWARF
# unwinding; 64-bit Windows unwinds through its own tables, with other routines.
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/src/driver/Windows/Personality.cpp
    ${CMAKE_SOURCE_DIR}/src/driver/Windows/FrameTables.cpp PROPERTIES HEADER_FILE_ONLY ON)
endif()

# Each section of the image takes whole 512-byte blocks in the file. The 32-bit
# updater links with the linker's own script changed in two places: the
# unwinding tables (read-only) go at the end of .rdata's data, and the start-up
# code's lists of initialisers (.CRT, writable, 24 bytes) into .data; the
# access rights of every byte stay as they were (1 KB less). Should the
# linker's script not read as expected, its own is used unchanged.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  execute_process(COMMAND ${CMAKE_LINKER} --verbose OUTPUT_VARIABLE LD_VERBOSE RESULT_VARIABLE LD_RESULT)
  string(REGEX MATCH "\n=+\n(.*)\n=+\n" LD_SCRIPT "${LD_VERBOSE}")
  set(LD_SCRIPT "${CMAKE_MATCH_1}")
  set(EH_BLOCK "\\.eh_frame BLOCK\\(__section_alignment__\\) :[ \n]*{[ \n]*KEEP\\(\\*\\(\\.eh_frame\\*\\)\\)[ \n]*}")
  set(CRT_BLOCK "\\.CRT BLOCK\\(__section_alignment__\\) :[ \n]*{([^}]*)}")
  set(RDATA_END "\\*\\(SORT\\(\\.rdata\\$\\*\\)\\)")
  set(DATA_END "\\*\\(\\.data_cygwin_nocopy\\)")
  string(REGEX MATCH "${CRT_BLOCK}" CRT_FOUND "${LD_SCRIPT}")
  set(CRT_BODY "${CMAKE_MATCH_1}")
  string(REGEX MATCH "${EH_BLOCK}" EH_FOUND "${LD_SCRIPT}")
  string(REGEX MATCH "${RDATA_END}" RDATA_FOUND "${LD_SCRIPT}")
  string(REGEX MATCH "${DATA_END}" DATA_FOUND "${LD_SCRIPT}")
  if(LD_RESULT EQUAL 0 AND CRT_FOUND AND EH_FOUND AND RDATA_FOUND AND DATA_FOUND)
    string(REGEX REPLACE "${EH_BLOCK}" "" LD_SCRIPT "${LD_SCRIPT}")
    string(REGEX REPLACE "${CRT_BLOCK}" "" LD_SCRIPT "${LD_SCRIPT}")
    string(REGEX REPLACE "(${RDATA_END})" "\\1\n    KEEP(*(.eh_frame*))" LD_SCRIPT "${LD_SCRIPT}")
    string(REGEX REPLACE "(${DATA_END})" "\\1\n${CRT_BODY}" LD_SCRIPT "${LD_SCRIPT}")
    file(WRITE ${CMAKE_BINARY_DIR}/update.ld "${LD_SCRIPT}\n")
    target_link_options(update PRIVATE "-Wl,-T,${CMAKE_BINARY_DIR}/update.ld")
    set_property(TARGET update APPEND PROPERTY LINK_DEPENDS ${CMAKE_BINARY_DIR}/update.ld)
  else()
    message(WARNING "update.exe: the linker's script reads differently; its sections stay as they are")
  endif()
endif()
