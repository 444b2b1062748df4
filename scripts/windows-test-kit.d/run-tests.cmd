@echo off
rem Runs the Oakhaze Plugin Manager's Windows test suites on this machine and
rem writes oh-windows-tests-report.txt beside this file. Run it as administrator.
rem Everything happens in a folder of its own below %TEMP%, never in the
rem machine's plug-in folders or its real settings folder.
setlocal
set "KIT=%~dp0"
set "REPORT=%KIT%oh-windows-tests-report.txt"
set "WORK=%TEMP%\oh-windows-tests-%RANDOM%%RANDOM%"
mkdir "%WORK%"
if errorlevel 1 (
    echo run-tests: cannot make %WORK%
    exit /b 2
)
set "TEMP=%WORK%"
set "TMP=%WORK%"
set "OH_BUILD_MACHINE_ROOT=%KIT%fixtures"

echo Oakhaze Plugin Manager - Windows test kit report> "%REPORT%"
echo Date: %DATE% %TIME%>> "%REPORT%"
ver >> "%REPORT%"
reg query "HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion" /v CurrentBuild >> "%REPORT%" 2>&1
reg query "HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion" /v UBR >> "%REPORT%" 2>&1
reg query "HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion" /v DisplayVersion >> "%REPORT%" 2>&1
echo.>> "%REPORT%"

echo Running the tests; this takes a few minutes...
"%KIT%tests\oh_tests.exe" --gtest_color=no >> "%REPORT%" 2>&1
set "RESULT=%ERRORLEVEL%"
cd /d "%KIT%"
rd /s /q "%WORK%" 2>nul

echo.>> "%REPORT%"
if "%RESULT%"=="0" (
    echo RESULT: PASSED>> "%REPORT%"
    echo All tests passed.
) else (
    echo RESULT: FAILED, exit code %RESULT%>> "%REPORT%"
    echo Some tests FAILED.
)
echo The report is %REPORT%
exit /b %RESULT%
