# The delivered table: build/bin/Data/Pal.DAT, .IDX and .BLB, written at build
# time by `cairn create` from the schema kept in data/. The program only opens
# it. The step runs on every build so that a removed table comes back; a table
# that exists is left alone because it may hold the user's records.
add_custom_target(pal_table ALL
  COMMAND ${CMAKE_COMMAND} -DCAIRN=$<TARGET_FILE:cairn>
          -DSCHEMA=${CMAKE_CURRENT_LIST_DIR}/data/pal_schema.json
          -DDIR=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/Data
          -P ${CMAKE_CURRENT_LIST_DIR}/data/create_table.cmake
  COMMENT "Delivered table Data/Pal"
  VERBATIM)
add_dependencies(pal_table cairn)
