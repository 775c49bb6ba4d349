#include "tests/harness/vnc_viewer.h"

#include <rfb/rfbclient.h>

#include <cstring>

namespace nuv::test {

namespace {

// The tags under which a client finds its viewer and its password.
int g_viewer_tag;
int g_password_tag;

void quiet(const char*, ...) {}

char* give_password(rfbClient* client) {
  auto* password = static_cast<std::string*>(rfbClientGetClientData(client, &g_password_tag));
  // libvncclient refuses an empty password without freeing it: none at all says the same.
  return password->empty() ? nullptr : ::strdup(password->c_str());
}

}  // namespace

VncViewer::VncViewer(uint16_t port, std::string password, std::string encodings)
    : password_(std::move(password)), encodings_(std::move(encodings)) {
  rfbClientLog = quiet;
  rfbClientErr = quiet;
  rfbClient* c = rfbGetClient(8, 3, 4);
  // 0x00RRGGBB words, as the compositor's pictures.
  c->format.redShift = 16;
  c->format.greenShift = 8;
  c->format.blueShift = 0;
  c->appData.encodingsString = encodings_.c_str();
  c->appData.enableJPEG = FALSE;
  ::free(c->serverHost);  // rfbGetClient's own empty name
  c->serverHost = ::strdup("127.0.0.1");
  c->serverPort = port;
  c->canHandleNewFBSize = FALSE;
  c->GetPassword = give_password;
  c->FinishedFrameBufferUpdate = finished;
  rfbClientSetClientData(c, &g_viewer_tag, this);
  rfbClientSetClientData(c, &g_password_tag, &password_);
  // On failure the client is freed.
  if (!rfbInitClient(c, nullptr, nullptr)) return;
  client_ = c;
  picture_ = Surface(c->width, c->height);
}

VncViewer::~VncViewer() {
  if (client_ == nullptr) return;
  ::free(client_->frameBuffer);
  client_->frameBuffer = nullptr;
  rfbClientCleanup(client_);
}

void VncViewer::finished(rfbClient* client) {
  auto* viewer = static_cast<VncViewer*>(rfbClientGetClientData(client, &g_viewer_tag));
  Surface& p = viewer->picture_;
  std::memcpy(p.pixels.data(), client->frameBuffer, p.pixels.size() * sizeof(uint32_t));
  // The colour is the low 24 bits; libvncclient's ZRLE leaves junk in the padding byte.
  for (uint32_t& pixel : p.pixels) pixel &= 0xFFFFFF;
  ++viewer->updates_;
}

bool VncViewer::read_once(int wait_us) {
  if (client_ == nullptr) return false;
  int ready = WaitForMessage(client_, static_cast<unsigned>(wait_us));
  if (ready < 0) return false;
  if (ready > 0 && !HandleRFBServerMessage(client_)) return false;
  return true;
}

bool VncViewer::until(const std::function<bool(const Surface&)>& done,
                      std::chrono::milliseconds patience) {
  auto deadline = std::chrono::steady_clock::now() + patience;
  uint64_t seen = updates_;
  if (updates_ > 0 && done(picture_)) return true;
  while (std::chrono::steady_clock::now() < deadline) {
    if (!read_once(50'000)) return false;
    if (updates_ != seen) {
      seen = updates_;
      if (done(picture_)) return true;
    }
  }
  return false;
}

bool VncViewer::read_for(std::chrono::milliseconds time) {
  auto deadline = std::chrono::steady_clock::now() + time;
  do {
    if (!read_once(10'000)) return false;
  } while (std::chrono::steady_clock::now() < deadline);
  return true;
}

bool VncViewer::pointer(int32_t x, int32_t y, int32_t mask) {
  return client_ != nullptr && SendPointerEvent(client_, x, y, mask);
}

bool VncViewer::key(uint32_t keysym, bool down) {
  return client_ != nullptr && SendKeyEvent(client_, keysym, down ? TRUE : FALSE);
}

}  // namespace nuv::test
