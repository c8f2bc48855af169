# Writes the delivered table DIR/Pal.* with `cairn create` from the schema.
# A table that is already there is kept: it may hold the user's records.
# Arguments: -DCAIRN=<tool> -DSCHEMA=<json> -DDIR=<data folder>
set(table ${DIR}/Pal)
if(EXISTS ${table}.DAT OR EXISTS ${table}.IDX OR EXISTS ${table}.BLB)
  if(NOT (EXISTS ${table}.DAT AND EXISTS ${table}.IDX AND EXISTS ${table}.BLB))
    message(WARNING "${table} is incomplete; remove its files to have it created again")
  elseif(${SCHEMA} IS_NEWER_THAN ${table}.DAT)
    message(WARNING "${table} is kept as it is (it may hold records); "
                    "remove its files to create it from the changed schema")
  endif()
else()
  file(MAKE_DIRECTORY ${DIR})
  execute_process(COMMAND ${CAIRN} create ${table} --schema ${SCHEMA} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cairn create ${table} failed")
  endif()
endif()
