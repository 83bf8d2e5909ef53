// C interface: thin wrappers over Server and Client.
#include "fastipc/fastipc_c.h"

#include <new>
#include <stdexcept>

#include "fastipc/fastipc.h"
#include "fastipc/qx.h"

struct fastipc_client {
  fastipc::Client client;
};

struct fastipc_server {
  fastipc::Server server;
};

namespace {

class CallbackListener : public fastipc::ReadListener {
 public:
  CallbackListener(fastipc_read_fn fn, void* user) : fn_(fn), user_(user) {}
  void onRead(fastipc::MemBlock* block) override {
    const std::string id = block->idText();
    fn_(user_, block->type, id.c_str(), block->data, block->length);
  }

 private:
  fastipc_read_fn fn_;
  void* user_;
};

bool toWide(const char* name, std::wstring* out) {
  if (name == nullptr) return false;
  try {
    *out = qx::s2w(name);
  } catch (const std::range_error&) {
    return false;
  }
  return true;
}

}  // namespace

extern "C" {

fastipc_client* fastipc_client_new(void) { return new (std::nothrow) fastipc_client; }

int fastipc_client_create(fastipc_client* client, const char* name, uint32_t size) {
  std::wstring wide;
  if (client == nullptr || !toWide(name, &wide)) return fastipc::kOpenWriteEventFailed;
  return client->client.create(wide, size);
}

uint32_t fastipc_client_write(fastipc_client* client, const void* data, uint32_t length) {
  if (client == nullptr) return fastipc::kClientNotOpen;
  return client->client.write(static_cast<const char*>(data), length);
}

void fastipc_client_close(fastipc_client* client) {
  if (client != nullptr) client->client.close();
}

void fastipc_client_free(fastipc_client* client) { delete client; }

fastipc_server* fastipc_server_new(void) { return new (std::nothrow) fastipc_server; }

int fastipc_server_create(fastipc_server* server, const char* name, uint32_t size) {
  std::wstring wide;
  if (server == nullptr || !toWide(name, &wide)) return fastipc::kCreateWriteEventFailed;
  return server->server.create(wide, size);
}

void fastipc_server_start_read(fastipc_server* server, fastipc_read_fn fn, void* user) {
  if (server == nullptr || fn == nullptr) return;
  CallbackListener listener(fn, user);
  server->server.setListener(&listener);
  server->server.startRead();
  server->server.setListener(nullptr);
}

void fastipc_server_close(fastipc_server* server) {
  if (server != nullptr) server->server.close();
}

void fastipc_server_free(fastipc_server* server) { delete server; }

}  // extern "C"
