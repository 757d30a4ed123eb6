# The .NET examples (examples/dotnet) compiled with Mono's mcs against the built
# ImgEngine.Net.dll into <build>/dotnet/examples/: CaptureConsole.exe, and TriggerForm.exe
# against Mono's WinForms (it is built, not run). A test runs CaptureConsole against velsim.
# Included by the top-level CMakeLists.txt after dotnet/, whose target "dotnet" builds the
# package's assembly.
set(vel_dotnet_examples ${PROJECT_SOURCE_DIR}/examples/dotnet)
set(vel_dotnet_examples_out ${CMAKE_BINARY_DIR}/dotnet/examples)
set(vel_examples_mcs ${VEL_MCS} -sdk:4.5 -nologo -warn:4 -warnaserror+ -r:System.dll -r:System.Core.dll
    -r:${VEL_DOTNET_ASSEMBLY})
add_custom_command(
  OUTPUT ${vel_dotnet_examples_out}/CaptureConsole.exe
  COMMAND ${CMAKE_COMMAND} -E make_directory ${vel_dotnet_examples_out}
  COMMAND ${vel_examples_mcs} -target:exe -out:${vel_dotnet_examples_out}/CaptureConsole.exe
          ${vel_dotnet_examples}/CaptureConsole/Program.cs
  DEPENDS ${vel_dotnet_examples}/CaptureConsole/Program.cs ${VEL_DOTNET_ASSEMBLY} dotnet
  COMMENT "The .NET example CaptureConsole.exe (mcs)" VERBATIM)
add_custom_command(
  OUTPUT ${vel_dotnet_examples_out}/TriggerForm.exe
  COMMAND ${CMAKE_COMMAND} -E make_directory ${vel_dotnet_examples_out}
  COMMAND ${vel_examples_mcs} -target:winexe -r:System.Windows.Forms.dll -r:System.Drawing.dll
          -out:${vel_dotnet_examples_out}/TriggerForm.exe ${vel_dotnet_examples}/TriggerForm/TriggerForm.cs
  DEPENDS ${vel_dotnet_examples}/TriggerForm/TriggerForm.cs ${VEL_DOTNET_ASSEMBLY} dotnet
  COMMENT "The .NET example TriggerForm.exe (mcs, Mono's WinForms)" VERBATIM)
add_custom_target(dotnet_examples ALL
  DEPENDS ${vel_dotnet_examples_out}/CaptureConsole.exe ${vel_dotnet_examples_out}/TriggerForm.exe)

if(BUILD_TESTING AND NOT VEL_SANITIZED)
  find_program(VEL_ZBARIMG zbarimg)
  add_test(NAME dotnet_capture_console
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/dotnet/capture_console_test.py
            --mono ${VEL_MONO} --example ${vel_dotnet_examples_out}/CaptureConsole.exe
            --assemblies ${CMAKE_BINARY_DIR}/dotnet --library-dir $<TARGET_FILE_DIR:ImgEngine>
            --velsim $<TARGET_FILE:velsim> --scene ${PROJECT_SOURCE_DIR}/sim/scenes/shelf.scene
            --zbarimg ${VEL_ZBARIMG} --work ${CMAKE_BINARY_DIR}/dotnet/capture-console-test)
  set_tests_properties(dotnet_capture_console PROPERTIES LABELS dotnet TIMEOUT 300)
endif()
