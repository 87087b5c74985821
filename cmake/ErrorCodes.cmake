# The error codes and their messages come from docs/errors.json: this writes them as C++
# constants for src/events/events.h, and refuses a schema whose codes differ from the file's.
set(errors_file "${PROJECT_SOURCE_DIR}/docs/errors.json")
set(schema_file "${PROJECT_SOURCE_DIR}/docs/events.schema.json")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${errors_file}" "${schema_file}")
file(READ "${errors_file}" errors_json)
file(READ "${schema_file}" schema_json)

function(cxx_string out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

set(codes_cxx "")
set(messages_cxx "")
set(codes "")
string(JSON error_count LENGTH "${errors_json}" errors)
math(EXPR last "${error_count} - 1")
foreach(i RANGE ${last})
  string(JSON code GET "${errors_json}" errors ${i} code)
  string(JSON name GET "${errors_json}" errors ${i} name)
  list(APPEND codes "${code}")
  cxx_string(code_literal "${code}")
  string(APPEND codes_cxx "inline constexpr const char* ${name} = ${code_literal};\n")
  string(JSON message_count LENGTH "${errors_json}" errors ${i} messages)
  math(EXPR last_message "${message_count} - 1")
  foreach(j RANGE ${last_message})
    string(JSON message_name MEMBER "${errors_json}" errors ${i} messages ${j})
    string(JSON message GET "${errors_json}" errors ${i} messages ${message_name})
    cxx_string(message_literal "${message}")
    string(APPEND messages_cxx "inline constexpr const char* ${message_name} = ${message_literal};\n")
  endforeach()
endforeach()

# The schema's "error" event lists the codes a host may meet.
set(schema_codes "")
string(JSON kinds LENGTH "${schema_json}" oneOf)
math(EXPR last_kind "${kinds} - 1")
foreach(k RANGE ${last_kind})
  string(JSON type ERROR_VARIABLE no_type GET "${schema_json}" oneOf ${k} properties type const)
  if(type STREQUAL "error")
    string(JSON enum_count LENGTH "${schema_json}" oneOf ${k} properties code enum)
    math(EXPR last_code "${enum_count} - 1")
    foreach(c RANGE ${last_code})
      string(JSON schema_code GET "${schema_json}" oneOf ${k} properties code enum ${c})
      list(APPEND schema_codes "${schema_code}")
    endforeach()
  endif()
endforeach()
if(NOT schema_codes STREQUAL codes)
  message(FATAL_ERROR "docs/events.schema.json lists the error codes ${schema_codes}; "
    "docs/errors.json has ${codes}")
endif()

file(CONFIGURE OUTPUT "${PROJECT_BINARY_DIR}/generated/events/error_codes.h" @ONLY CONTENT [=[
// Made by the build from docs/errors.json: edit that file, not this one.
#pragma once

namespace scrivia::events {

// Error codes, as the host reads them.
namespace code {
@codes_cxx@}  // namespace code

// Messages shown to the user. Those ending in " : " are followed directly by
// a locale identifier or a platform error's description.
namespace message {
@messages_cxx@}  // namespace message

}  // namespace scrivia::events
]=])
