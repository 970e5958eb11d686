@echo off
rem The sampler: greets, and counts nothing. "/installed" is how setup runs it,
rem "/launched" how the finish page starts it.
if "%1"=="/installed" exit /b 0
if "%1"=="/launched" exit /b 0
type "%~dp0data\sampler.dat"
pause
