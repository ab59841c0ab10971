// The tool's three variable commands. Each takes the variable's name and GUID
// from g_ToolSettings, prints its messages and returns whether it succeeded.
#pragma once

#include "../fwvar/firmware_variables.h"

#include <cstdint>

// The read every command starts with: false, with the OS error code (or the
// allocation failure) already printed, when the variable cannot be read.
bool ReadFirmwareVariable(const char* pszName, const char* pszGuid, VariableCopy* pCopy);

bool SetVariableByte(int32_t nOffset, uint8_t bData);
bool DumpVariableToFile(const char* pszFileName); // ends the run if the file cannot be opened
bool DeleteVariable();
