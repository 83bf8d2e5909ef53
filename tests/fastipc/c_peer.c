/* A C program sending one message through the C interface:
 * fastipc_c_peer CHANNEL TEXT. Exits with the failing status modulo 256. */
#include <stdio.h>
#include <string.h>

#include "fastipc/fastipc_c.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: fastipc_c_peer CHANNEL TEXT\n");
    return 2;
  }
  fastipc_client* client = fastipc_client_new();
  int status = fastipc_client_create(client, argv[1], 1024);
  if (status == 0) status = (int)fastipc_client_write(client, argv[2], (uint32_t)strlen(argv[2]));
  fastipc_client_free(client);
  if (status != 0) printf("status %d\n", status);
  return status == 0 ? 0 : 1;
}
