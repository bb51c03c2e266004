# The unit's three firmware images, embedded as EMBEDDED_FILE resources (language 1033).
# With VARNEX_FIRMWARE_DIR empty the build writes deterministic placeholders of the exact
# sizes; otherwise it copies the real images from that folder after checking their sizes.
# Writes firmware.rc into the build's resources folder and defines varnex_firmware_images.

set(varnex_firmware_images_list
    BOOTLOADER 249008
    V410_2_AXIS_SOFTWARE 4402584
    V410_3_AXIS_SOFTWARE 4403368)
set(varnex_firmware_out ${CMAKE_BINARY_DIR}/resources/firmware)
set(varnex_firmware_generator ${CMAKE_CURRENT_LIST_DIR}/make_placeholder_firmware.py)
file(MAKE_DIRECTORY ${varnex_firmware_out})

if(NOT VARNEX_FIRMWARE_DIR)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
endif()

# Names where the images come from. It changes only when the source does, and every image
# depends on it, so switching between placeholders and real images rewrites all three
# (an older real image would otherwise count as up to date against a newer placeholder).
set(varnex_firmware_source_stamp ${varnex_firmware_out}/source.txt)
file(CONFIGURE OUTPUT ${varnex_firmware_source_stamp}
  CONTENT "${VARNEX_FIRMWARE_DIR}\n")

set(varnex_firmware_files "")
set(varnex_firmware_rc_lines "")
list(LENGTH varnex_firmware_images_list varnex_firmware_count)
math(EXPR varnex_firmware_last "${varnex_firmware_count} - 1")
foreach(index RANGE 0 ${varnex_firmware_last} 2)
  math(EXPR size_index "${index} + 1")
  list(GET varnex_firmware_images_list ${index} image_name)
  list(GET varnex_firmware_images_list ${size_index} image_size)
  set(image_file ${varnex_firmware_out}/${image_name}.bin)

  if(VARNEX_FIRMWARE_DIR)
    set(source_file ${VARNEX_FIRMWARE_DIR}/${image_name}.bin)
    if(NOT EXISTS ${source_file})
      message(FATAL_ERROR "VARNEX_FIRMWARE_DIR: ${source_file} is missing")
    endif()
    file(SIZE ${source_file} source_size)
    if(NOT source_size EQUAL image_size)
      message(FATAL_ERROR
        "VARNEX_FIRMWARE_DIR: ${source_file} holds ${source_size} bytes, the unit expects ${image_size}")
    endif()
    add_custom_command(OUTPUT ${image_file}
      COMMAND ${CMAKE_COMMAND} -E copy ${source_file} ${image_file}
      DEPENDS ${source_file} ${varnex_firmware_source_stamp}
      COMMENT "Copying firmware image ${image_name}"
      VERBATIM)
  else()
    add_custom_command(OUTPUT ${image_file}
      COMMAND Python3::Interpreter ${varnex_firmware_generator}
              --name ${image_name} --size ${image_size} --out ${image_file}
      DEPENDS ${varnex_firmware_generator} ${varnex_firmware_source_stamp}
      COMMENT "Writing placeholder firmware image ${image_name} (${image_size} bytes)"
      VERBATIM)
  endif()

  list(APPEND varnex_firmware_files ${image_file})
  string(APPEND varnex_firmware_rc_lines "${image_name} EMBEDDED_FILE \"${image_file}\"\n")
endforeach()

# Rewritten only when its text changes, so an unchanged tree does not recompile resources.
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/resources/firmware.rc
  CONTENT "// Written by the build: the three embedded firmware images.\nLANGUAGE 0x09, 0x01\n${varnex_firmware_rc_lines}"
  @ONLY)

add_custom_target(varnex_firmware_images DEPENDS ${varnex_firmware_files})

# The resource compiler does not see files named inside a script, so the script is rebuilt
# when an image or a picture changes.
file(GLOB varnex_picture_files CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_LIST_DIR}/pictures.rc ${CMAKE_CURRENT_LIST_DIR}/pictures/*.bmp)
set_property(SOURCE ${CMAKE_CURRENT_LIST_DIR}/program.rc APPEND PROPERTY OBJECT_DEPENDS
  ${varnex_firmware_files} ${CMAKE_BINARY_DIR}/resources/firmware.rc ${varnex_picture_files})
