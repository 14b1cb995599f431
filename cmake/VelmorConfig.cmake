# One interface target that carries the language standard, warnings and the
# sanitizer flags. Every target links it.
add_library(velmor_cfg INTERFACE)
add_library(Velmor::cfg ALIAS velmor_cfg)

target_compile_features(velmor_cfg INTERFACE cxx_std_20)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# Text inside the program is UTF-8; files, logs and wire texts that other
# programs read are CP949, converted at that edge (platform/CodePage.h).
target_compile_options(velmor_cfg INTERFACE
  -Wall -Wextra -Wpedantic -Wno-missing-field-initializers
  $<$<BOOL:${VELMOR_WERROR}>:-Werror>)

target_compile_definitions(velmor_cfg INTERFACE
  QT_NO_CAST_FROM_ASCII
  QT_NO_CONTEXTLESS_CONNECT
  QT_NO_KEYWORDS
  _FILE_OFFSET_BITS=64)

if(VELMOR_SANITIZE STREQUAL "address")
  target_compile_options(velmor_cfg INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(velmor_cfg INTERFACE -fsanitize=address,undefined)
elseif(VELMOR_SANITIZE STREQUAL "thread")
  target_compile_options(velmor_cfg INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(velmor_cfg INTERFACE -fsanitize=thread)
elseif(NOT VELMOR_SANITIZE STREQUAL "")
  message(FATAL_ERROR "VELMOR_SANITIZE must be empty, 'address' or 'thread'")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/VelmorVersion.cmake)

# Programs keep the file names the launcher, the updater and the web pages use,
# and carry the project's file version (velmor_stamp_version() afterwards
# gives one its own).
function(velmor_program target output_name)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME "${output_name}" SUFFIX ".exe")
  velmor_stamp_version(${target})
  install(TARGETS ${target} RUNTIME DESTINATION .)
endfunction()

# Copies a neighbour file or folder next to the programs, at build time and at
# install time, so the build tree works exactly like an installation.
function(velmor_neighbour_files target)
  foreach(src IN LISTS ARGN)
    get_filename_component(name "${src}" NAME)
    if(IS_DIRECTORY "${src}")
      add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_directory "${src}" "${VELMOR_PROGRAM_DIR}/${name}")
      install(DIRECTORY "${src}" DESTINATION .)
    else()
      add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_if_different "${src}" "${VELMOR_PROGRAM_DIR}/${name}")
      install(FILES "${src}" DESTINATION .)
    endif()
  endforeach()
endfunction()
