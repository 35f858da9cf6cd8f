/* The system's library loader as the C client uses it. */
#ifndef CHUB_CLIENT_LOADER_H
#define CHUB_CLIENT_LOADER_H

void* LoadHub(const char* path); /* NULL on failure; the reason in LoaderError() */
void* HubSymbol(void* library, const char* name);
void UnloadHub(void* library);
const char* LoaderError(void);

#endif
