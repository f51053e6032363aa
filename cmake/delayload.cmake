# Makes a delay-import library for one DLL from MinGW's ordinary import
# library: the exported names are read from its __imp_ symbols.
# Run as: cmake -DNM= -DDLLTOOL= -DIMPORT_LIB= -DDLL= -DOUT= -P delayload.cmake
execute_process(COMMAND ${NM} ${IMPORT_LIB} OUTPUT_VARIABLE syms RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "cannot read ${IMPORT_LIB}")
endif()
string(REGEX MATCHALL " I __imp__?[A-Za-z0-9_@]+" imps "${syms}")
set(def "LIBRARY ${DLL}\nEXPORTS\n")
foreach(i ${imps})
    # x86_64: __imp_Name; i686: __imp__Name@n (stdcall, imported undecorated).
    string(REGEX REPLACE "^ I __imp_" "" name "${i}")
    if(name MATCHES "@[0-9]+$")
        string(REGEX REPLACE "^_" "" name "${name}")
    endif()
    string(APPEND def "    ${name}\n")
endforeach()
get_filename_component(dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${dir})
file(WRITE ${OUT}.def "${def}")
execute_process(COMMAND ${DLLTOOL} -k -d ${OUT}.def -D ${DLL} -y ${OUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dlltool failed for ${DLL}")
endif()
