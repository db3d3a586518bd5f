// The command handlers of the "network" library.
#pragma once

#include "engine/vm.h"

int OpenConnection(qvVmState* L);
int CloseConnection(qvVmState* L);
int CreateServer(qvVmState* L);
int CloseServer(qvVmState* L);
int SendData(qvVmState* L);
int ReceiveData(qvVmState* L);
int GetConnectionIP(qvVmState* L);
int GetConnectionPort(qvVmState* L);
int GetLocalIP(qvVmState* L);
int GetLocalPort(qvVmState* L);
int GetHostName(qvVmState* L);
int ToIP(qvVmState* L);
int ToHostName(qvVmState* L);
int SetNetworkTimeout(qvVmState* L);
int CreateUDPObject(qvVmState* L);
int CloseUDPObject(qvVmState* L);
int SendUDPData(qvVmState* L);
int ReceiveUDPData(qvVmState* L);
int IsOnline(qvVmState* L);
int DownloadFile(qvVmState* L);
int UploadFile(qvVmState* L);
