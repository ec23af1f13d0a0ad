# Compiles a dialog resource script into an object file to link.
#
# The template must store the up-down control's class exactly as the system
# registers it, "msctls_updown32"; windres writes every quoted class name in
# capitals, so the script is compiled by llvm-rc, which keeps it as written,
# and windres only wraps the compiled resources into an object.
# llvm-rc hands the script to clang for preprocessing. It also reads options
# in the Windows manner, so an input path that begins with /c would be taken
# for its /C option: "--" ends the options before the script's path.
find_program(LLVM_RC NAMES llvm-rc llvm-rc-14 REQUIRED)

function(delbrin_dialog_resource out_var rc_file)
  get_filename_component(name ${rc_file} NAME_WE)
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${name}.res)
  set(obj ${CMAKE_CURRENT_BINARY_DIR}/${name}.res.o)
  add_custom_command(OUTPUT ${obj}
    COMMAND ${LLVM_RC} -I ${CMAKE_SOURCE_DIR}/resources -C 65001 -fo ${res} -- ${rc_file}
    COMMAND ${CMAKE_RC_COMPILER} -i ${res} -o ${obj}
    DEPENDS ${rc_file} ${CMAKE_SOURCE_DIR}/resources/dialog_ids.h
    COMMENT "Compiling the dialog template ${name}.rc"
    VERBATIM)
  set(${out_var} ${obj} PARENT_SCOPE)
endfunction()
