# Executables that stand in for the host: loaded at 0x400000, with one
# uninitialised section from 0x401000 that covers every fixed host address
# (identity word 0x401000 up to the engine pointer 0xC97B24). The program's
# own code follows that section. The section costs no file space; at run time
# the program makes it read-write-execute and lays out the host in it.

set(KERBMARK_HOST_MEMORY_SIZE 0x8A0000)  # 0x401000 .. 0xCA1000

function(kerbmark_host_image_script out)
  set(script ${PROJECT_BINARY_DIR}/host_image.ld)
  if(NOT EXISTS ${script})
    execute_process(COMMAND ${CMAKE_LINKER} --verbose OUTPUT_VARIABLE verbose RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "cannot read the default linker script from ${CMAKE_LINKER}")
    endif()
    string(FIND "${verbose}" "==================================================" first)
    math(EXPR first "${first} + 50")
    string(SUBSTRING "${verbose}" ${first} -1 rest)
    string(FIND "${rest}" "==================================================" last)
    string(SUBSTRING "${rest}" 0 ${last} default_script)
    set(text_rule "  .text  __image_base__ + ( __section_alignment__ < 0x1000 ? . : __section_alignment__ ) :")
    string(FIND "${default_script}" "${text_rule}" at)
    if(at EQUAL -1)
      message(FATAL_ERROR "unexpected default linker script: no .text rule")
    endif()
    string(REPLACE "${text_rule}"
"  .hostmem  __image_base__ + 0x1000 (NOLOAD) :
  {
    _host_memory_start = .;
    . = . + ${KERBMARK_HOST_MEMORY_SIZE};
    _host_memory_end = .;
  }
  .text  ALIGN(__section_alignment__) :" host_script "${default_script}")
    file(WRITE ${script} "${host_script}")
  endif()
  set(${out} ${script} PARENT_SCOPE)
endfunction()

# Links `target` as a host stand-in. extern "C" char host_memory_start[],
# host_memory_end[] bound the section (the script names carry the i386
# leading underscore).
function(kerbmark_host_image target)
  kerbmark_host_image_script(script)
  target_link_options(${target} PRIVATE -Wl,--image-base,0x400000 -Wl,-T,${script})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${script})
endfunction()
