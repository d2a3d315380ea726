# Installs the build into a scratch prefix and imports the kve module from
# where the install put it, with nothing of the build tree on the path.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${err}")
endif()
set(ENV{PYTHONPATH} ${prefix}/${MODULE_DIR})
execute_process(
  COMMAND ${PYTHON} -c [[
import sys, numpy as np, kve
assert kve.__file__.startswith(sys.argv[1]), kve.__file__
frame = np.zeros((3, 5, 4), np.uint8)
assert (kve.effect("Negate", frame) == 255).all()
]] ${prefix}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the installed module does not import from ${prefix}/${MODULE_DIR}:\n${out}${err}")
endif()
