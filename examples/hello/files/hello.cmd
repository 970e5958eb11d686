@echo off
echo Hello from Quillset!
pause
