@echo off
rem Runs the Oakhaze Plugin Manager's Windows test suites on this machine and
rem writes oh-windows-tests-report.txt beside this file. Run it as administrator.
rem Everything happens in a folder of its own below the system's temporary
rem folder, never in the machine's plug-in folders or its real settings folder.
rem Not below %TEMP%: that lies in the user's profile, which the user's own
rem programs may change, and the suites' stand-ins for ProgramData and Common
rem Files must lie where, as there, only administrators may delete or rename.
rem No bracketed block expands a path here: the kit's own folder or %TEMP% may
rem hold spaces or ")" ("C:\Users\Jo (Studio)\..."), which would end a block early.
setlocal EnableExtensions DisableDelayedExpansion
set "KIT=%~dp0"
set "REPORT=%KIT%oh-windows-tests-report.txt"
set "TESTS=%KIT%tests\oh_tests.exe"
set "LIMIT=600"
set "RESULT=0"
set "FAILED_SUITES="

echo Oakhaze Plugin Manager - Windows test kit report> "%REPORT%"
echo Date: %DATE% %TIME%>> "%REPORT%"
ver >> "%REPORT%"
reg query "HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion" /v CurrentBuild >> "%REPORT%" 2>&1
reg query "HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion" /v UBR >> "%REPORT%" 2>&1
reg query "HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion" /v DisplayVersion >> "%REPORT%" 2>&1

rem The suites are built for x64: anything else is named before they are started.
set "ARCH=%PROCESSOR_ARCHITECTURE%"
if defined PROCESSOR_ARCHITEW6432 set "ARCH=%PROCESSOR_ARCHITEW6432%"
if /i not "%ARCH%"=="AMD64" goto wrongMachine

rem As an administrator only: the suites check Windows' own security, which
rem an unelevated process cannot set up. The facts go into the report.
"%TESTS%" --kit-facts >> "%REPORT%" 2>&1
if errorlevel 1 goto refused

set "WORK=%SystemRoot%\Temp\oh-windows-tests-%RANDOM%%RANDOM%"
mkdir "%WORK%" 2>nul
if not exist "%WORK%\" goto noWorkFolder
set "TEMP=%WORK%"
set "TMP=%WORK%"
set "OH_BUILD_MACHINE_ROOT=%KIT%fixtures"
set "OH_SKIP_LOG=%WORK%\skips.log"
set "OH_TIME_LIMIT_SECONDS=%LIMIT%"

echo Running the tests one suite at a time, each within %LIMIT% seconds; this takes a few minutes...
"%TESTS%" --gtest_list_tests > "%WORK%\suites.txt" 2>> "%REPORT%"
if errorlevel 1 set "RESULT=1"
for /f "usebackq delims=" %%L in ("%WORK%\suites.txt") do call :suite "%%L"

echo.>> "%REPORT%"
"%TESTS%" --kit-skips auto "%KIT%allowed-skips.txt" "%OH_SKIP_LOG%" >> "%REPORT%" 2>&1
if errorlevel 1 set "RESULT=1"

cd /d "%KIT%"
rd /s /q "%WORK%" 2>nul
echo.>> "%REPORT%"
if not "%RESULT%"=="0" goto failed
echo RESULT: PASSED>> "%REPORT%"
echo All tests passed.
goto verdict

:failed
echo Failed suites:%FAILED_SUITES%>> "%REPORT%"
echo RESULT: FAILED>> "%REPORT%"
echo Some tests FAILED:%FAILED_SUITES%
goto verdict

:wrongMachine
echo Architecture: %ARCH% (the kit needs an x64 machine)>> "%REPORT%"
echo RESULT: NOT RUN, not an x64 machine>> "%REPORT%"
echo run-tests: this kit runs on x64 Windows only; this machine is %ARCH%.
set "RESULT=3"
goto verdict

:refused
echo RESULT: NOT RUN, not elevated or not x64>> "%REPORT%"
type "%REPORT%"
echo.
echo run-tests: right-click run-tests.cmd and choose "Run as administrator".
set "RESULT=3"
goto verdict

:noWorkFolder
echo RESULT: NOT RUN, cannot make %WORK%>> "%REPORT%"
echo run-tests: cannot make %WORK%
set "RESULT=2"
goto verdict

:verdict
echo The report is %REPORT%
echo Send it to the maintainers as README.txt says.
pause
exit /b %RESULT%

rem One suite in a process of its own: one that hangs is stopped at its limit
rem and the others still run. Suite lines end in "."; test lines are indented.
:suite
set "LINE=%~1"
if "%LINE:~0,1%"==" " goto :eof
if not "%LINE:~-1%"=="." goto :eof
set "SUITE=%LINE:~0,-1%"
echo   %SUITE%
echo.>> "%REPORT%"
"%TESTS%" --gtest_color=no --gtest_brief=0 "--gtest_filter=%SUITE%.*" >> "%REPORT%" 2>&1
set "CODE=%ERRORLEVEL%"
if "%CODE%"=="0" goto :eof
set "RESULT=1"
set "FAILED_SUITES=%FAILED_SUITES% %SUITE%"
if "%CODE%"=="124" echo TIME LIMIT: %SUITE% ran past %LIMIT% seconds and was stopped>> "%REPORT%"
goto :eof
