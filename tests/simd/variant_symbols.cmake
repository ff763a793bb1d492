# The AVX2 and AVX-512 translation units must define no symbol that code compiled for the baseline
# processor could also use: an inline function or template instantiated there for double would be
# merged at link time with the baseline copy, and the linker may keep the variant's, whose
# instructions the baseline processor lacks. Only instantiations over the vector types of one width
# (Lanes<4> for AVX2, Lanes<8> for AVX-512) and the compiler's personality reference may be weak
# there; so may the constant tables of kernels/american_tables.hpp (data, the same bytes in every
# unit, no instructions). GNU nm names a vector of four doubles "double __vector(4)", llvm-nm
# "double vector[4]".
#   cmake -DNM=nm -DOBJECTS="a.o;b.o" -P variant_symbols.cmake
set(failed "")
foreach(object ${OBJECTS})
  if(NOT object MATCHES "_avx(2|512)\\.cpp\\.o$")
    continue()
  endif()
  execute_process(COMMAND ${NM} -C --defined-only ${object} OUTPUT_VARIABLE listing
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  string(REPLACE "\n" ";" lines "${listing}")
  foreach(line ${lines})
    if(line MATCHES "^[0-9a-f]+ [WVu] (.*)$")
      set(name "${CMAKE_MATCH_1}")
      if(NOT name MATCHES "__vector\\(|vector\\[[0-9]+\\]|Lanes<" AND NOT name MATCHES "^DW\\.ref\\.__gxx_personality_v0$"
         AND NOT (line MATCHES "^[0-9a-f]+ [Vu] " AND name MATCHES "^karvex::american_tables::"))
        string(APPEND failed "\n  ${object}: ${name}")
      endif()
    endif()
  endforeach()
  message(STATUS "checked ${object}")
endforeach()
if(failed)
  message(FATAL_ERROR "variant units define symbols shared with baseline code:${failed}")
endif()
