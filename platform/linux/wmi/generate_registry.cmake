# Turns the producers that schema/classes.json names into this provider's
# registry at build time: a class is answered here exactly when the
# catalogue names its producer, and no second list has to be kept in step.
# Usage: cmake -DINPUT=classes.json -DOUTPUT=registry_table.cpp -P generate_registry.cmake
file(READ "${INPUT}" json)
string(JSON class_count LENGTH "${json}")
math(EXPR last_class "${class_count} - 1")

set(rows "")
foreach(ci RANGE ${last_class})
  string(JSON cname MEMBER "${json}" ${ci})
  string(JSON producer ERROR_VARIABLE missing GET "${json}" "${cname}" producer)
  if(missing)
    continue()  # a class no producer of this provider answers
  endif()
  string(APPEND rows "    r.add(\"${cname}\", ${producer});\n")
endforeach()

set(out "// Generated from classes.json by generate_registry.cmake; do not edit.\n")
string(APPEND out "#include \"platform/linux/wmi/core_classes.h\"\n")
string(APPEND out "#include \"platform/linux/wmi/inventory_classes.h\"\n")
string(APPEND out "#include \"platform/linux/wmi/registry.h\"\n")
string(APPEND out "#include \"platform/linux/wmi/service_classes.h\"\n")
string(APPEND out "#include \"platform/linux/wmi/system_classes.h\"\n\n")
string(APPEND out "namespace tavo::linuxwmi {\n\nvoid registerClasses(Registry& r) {\n${rows}}\n\n")
string(APPEND out "}  // namespace tavo::linuxwmi\n")
file(WRITE "${OUTPUT}.tmp" "${out}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
