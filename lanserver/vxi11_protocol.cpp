// The VXI-11 argument decoders (see vxi11_protocol.h). Each reads the whole record:
// bytes left over after the last field make the record unreadable too.
#include "lanserver/vxi11_protocol.h"

#include "lanserver/onc_rpc.h"

namespace lan {

namespace {

bool Done(const XdrReader& in) { return !in.failed() && in.remaining() == 0; }

}  // namespace

bool DecodeCreateLink(std::string_view bytes, CreateLinkArgs* args) {
  XdrReader in(bytes);
  args->client_id = in.Int();
  args->lock_device = in.Bool();
  args->lock_timeout = in.Uint();
  args->device = in.Opaque(kVxiDeviceNameMost);
  return Done(in);
}

bool DecodeWrite(std::string_view bytes, std::size_t most, WriteArgs* args) {
  XdrReader in(bytes);
  args->link = in.Int();
  args->io_timeout = in.Uint();
  args->lock_timeout = in.Uint();
  args->flags = in.Uint();
  args->data = in.Opaque(most);
  return Done(in);
}

bool DecodeRead(std::string_view bytes, ReadArgs* args) {
  XdrReader in(bytes);
  args->link = in.Int();
  args->request_size = in.Uint();
  args->io_timeout = in.Uint();
  args->lock_timeout = in.Uint();
  args->flags = in.Uint();
  args->term_char = static_cast<char>(in.Uint());
  return Done(in);
}

bool DecodeGeneric(std::string_view bytes, GenericArgs* args) {
  XdrReader in(bytes);
  args->link = in.Int();
  args->flags = in.Uint();
  args->lock_timeout = in.Uint();
  args->io_timeout = in.Uint();
  return Done(in);
}

bool DecodeLock(std::string_view bytes, GenericArgs* args) {
  XdrReader in(bytes);
  args->link = in.Int();
  args->flags = in.Uint();
  args->lock_timeout = in.Uint();
  return Done(in);
}

bool DecodeLink(std::string_view bytes, int32_t* link) {
  XdrReader in(bytes);
  *link = in.Int();
  return Done(in);
}

bool DecodeEnableSrq(std::string_view bytes, EnableSrqArgs* args) {
  XdrReader in(bytes);
  args->link = in.Int();
  args->enable = in.Bool();
  args->handle = in.Opaque(kVxiSrqHandleMost);
  return Done(in);
}

bool DecodeRemoteFunc(std::string_view bytes, RemoteFuncArgs* args) {
  XdrReader in(bytes);
  args->host_address = in.Uint();
  args->host_port = in.Uint();
  args->program = in.Uint();
  args->version = in.Uint();
  args->family = in.Uint();
  return Done(in);
}

}  // namespace lan
