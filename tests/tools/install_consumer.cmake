# Installs the built project into a temporary prefix, then builds and runs
# the consumer example against it twice: through find_package and through
# pkg-config. Run with cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=...
# -DCXX=... -P install_consumer.cmake.

function(run_step name)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${name} failed (${result}):\n${out}\n${err}")
  endif()
  message(STATUS "${name}: ok ${out}")
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(example ${SOURCE_DIR}/examples/record_synthetic)

run_step(install ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(file include/media_common/element.h include/proto/attribute_event.pb.h bin/media-tool)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

run_step(configure ${CMAKE_COMMAND} -S ${example} -B ${WORK_DIR}/with-cmake -G Ninja
         -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX})
run_step(build ${CMAKE_COMMAND} --build ${WORK_DIR}/with-cmake)
run_step(run-cmake-build ${WORK_DIR}/with-cmake/record_synthetic ${WORK_DIR}/cmake.avi)

file(GLOB_RECURSE pc_files ${prefix}/*/media_common.pc)
list(GET pc_files 0 pc_file)
get_filename_component(pc_dir ${pc_file} DIRECTORY)
set(ENV{PKG_CONFIG_PATH} ${pc_dir})
execute_process(COMMAND pkg-config --cflags --libs media_common
                RESULT_VARIABLE result OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "pkg-config does not know media_common")
endif()
separate_arguments(flags UNIX_COMMAND "${flags}")
run_step(build-pkg-config ${CXX} ${example}/record_synthetic.cc ${flags}
         -o ${WORK_DIR}/record_synthetic_pc)
run_step(run-pkg-config-build ${WORK_DIR}/record_synthetic_pc ${WORK_DIR}/pkg-config.avi)
