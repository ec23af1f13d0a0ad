// The module's side of the filter definition: the record the host registers
// and the callbacks it lists, each a thin hand-over to the core or the dialog.
#ifndef DELBRIN_FILTER_CALLBACKS_H
#define DELBRIN_FILTER_CALLBACKS_H

#include "host_interface.h"

// The record handed to the host's add filter; the host keeps its own copy.
extern FilterDefinition gFilterDefinition;

int  FilterInit(Activation* activation, const HostFunctions* functions);
int  FilterStart(Activation* activation, const HostFunctions* functions);
int  FilterRun(const Activation* activation, const HostFunctions* functions);
long FilterParam(Activation* activation, const HostFunctions* functions);
int  FilterEnd(Activation* activation, const HostFunctions* functions);
int  FilterConfig(Activation* activation, const HostFunctions* functions, HWND parent);
void FilterString(const Activation* activation, const HostFunctions* functions, char* buffer);
bool FilterScriptString(Activation* activation, const HostFunctions* functions,
                        char* buffer, int capacity);

#endif
