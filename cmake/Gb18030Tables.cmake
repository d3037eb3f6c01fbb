# The GB18030 tables come from the build host's ICU: a small generator, compiled with the host's
# compiler (in a cross build the target's cannot run here) and run at build time, writes them as
# C++ that the core compiles on every platform.
#   tessaly_gb18030_tables(OUTPUT_VARIABLE) sets it to the generated file; its folder goes on the
#   include path of whatever compiles charset.cpp.
function(tessaly_gb18030_tables out_var)
  if(CMAKE_CROSSCOMPILING)
    find_program(TESSALY_HOST_CXX NAMES c++ g++ clang++ REQUIRED
                 DOC "The build host's C++ compiler, for the table generator")
  else()
    set(TESSALY_HOST_CXX ${CMAKE_CXX_COMPILER})
  endif()
  find_program(TESSALY_PKG_CONFIG pkg-config REQUIRED)
  # The host's ICU, whatever a cross build's pkg-config settings point at.
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env --unset=PKG_CONFIG_LIBDIR --unset=PKG_CONFIG_PATH
            --unset=PKG_CONFIG_SYSROOT_DIR ${TESSALY_PKG_CONFIG} --cflags --libs icu-uc
    OUTPUT_VARIABLE icu_flags
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE icu_found)
  if(NOT icu_found EQUAL 0)
    message(FATAL_ERROR "The GB18030 tables are made from ICU: install libicu-dev")
  endif()
  separate_arguments(icu_flags UNIX_COMMAND "${icu_flags}")

  set(source ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../marc/tablegen/gb18030_tables.cpp)
  set(generator ${CMAKE_CURRENT_BINARY_DIR}/gb18030_tables_gen)
  set(tables ${CMAKE_CURRENT_BINARY_DIR}/generated/gb18030_tables.inc)
  add_custom_command(
    OUTPUT ${generator}
    COMMAND ${TESSALY_HOST_CXX} -std=c++17 -O1 ${source} -o ${generator} ${icu_flags}
    DEPENDS ${source}
    COMMENT "Building the GB18030 table generator with the host compiler"
    VERBATIM)
  add_custom_command(
    OUTPUT ${tables}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/generated
    COMMAND ${generator} ${tables}
    DEPENDS ${generator}
    COMMENT "Generating the GB18030 tables from ICU"
    VERBATIM)
  set(${out_var} ${tables} PARENT_SCOPE)
endfunction()
