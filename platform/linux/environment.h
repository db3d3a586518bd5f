// Environment variables of the process: programs that Run and Execute start inherit them;
// they do not outlive the run.
#pragma once

// An allocated copy of the value (free it with FreeMemBlock), or none when it is not set or
// memory is short.
char* GetEnvVar(const char* name);
// 0, or ERR_SETENV (an empty name, one with "=", or no memory).
int SetEnvVar(const char* name, const char* value);
// 0, or ERR_UNSETENV (an empty name or one with "=").
int DeleteEnvVar(const char* name);
