@echo off
rem The sampler: greets, and counts nothing. "/installed" is how setup runs it.
if "%1"=="/installed" exit /b 0
type "%~dp0data\sampler.dat"
pause
