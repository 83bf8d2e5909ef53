/* C interface to fastipc, for programs written in C. Names are UTF-8; the
 * status codes are those of fastipc.h (0 success, 101, 201-205, 301-303). */
#ifndef FASTIPC_FASTIPC_C_H_
#define FASTIPC_FASTIPC_C_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct fastipc_client fastipc_client;
typedef struct fastipc_server fastipc_server;

/* Called for every block read; `data` holds `length` bytes and a zero byte.
 * `id` is the zero-terminated identifier (empty for a whole message). */
typedef void (*fastipc_read_fn)(void* user, int32_t type, const char* id, const char* data,
                                uint32_t length);

fastipc_client* fastipc_client_new(void);
int fastipc_client_create(fastipc_client* client, const char* name, uint32_t size);
uint32_t fastipc_client_write(fastipc_client* client, const void* data, uint32_t length);
void fastipc_client_close(fastipc_client* client);
void fastipc_client_free(fastipc_client* client);

fastipc_server* fastipc_server_new(void);
int fastipc_server_create(fastipc_server* server, const char* name, uint32_t size);
/* Blocks on the calling thread until fastipc_server_close. */
void fastipc_server_start_read(fastipc_server* server, fastipc_read_fn fn, void* user);
void fastipc_server_close(fastipc_server* server);
void fastipc_server_free(fastipc_server* server);

#ifdef __cplusplus
}
#endif

#endif /* FASTIPC_FASTIPC_C_H_ */
