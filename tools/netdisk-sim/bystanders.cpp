#include "bystanders.h"

namespace pansift::sim {

void Bystanders::serve(HttpsServer& server, Origin origin) {
  httplib::Server& http = server.http();
  http.new_task_queue = [] { return new httplib::ThreadPool(4); };
  auto handler = [this, origin](const httplib::Request& req, httplib::Response& res) {
    LoggedRequest entry = ReceivedRequest(origin, req);
    entry.endpoint = "bystander";
    entry.status = 200;
    entry.reply = "bystander";
    log_.add(std::move(entry));
    res.set_content("bystander", "text/plain");
  };
  http.Get("(.*)", handler);
  http.Post("(.*)", handler);
}

bool Bystanders::start(const Certificate& certificate) {
  foreign_ = std::make_unique<HttpsServer>(certificate);
  plain_ = std::make_unique<HttpsServer>();
  serve(*foreign_, Origin::Foreign);
  serve(*plain_, Origin::PlainHttp);
  return foreign_->start() && plain_->start();
}

void Bystanders::stop() {
  if (foreign_) foreign_->stop();
  if (plain_) plain_->stop();
}

std::string Bystanders::foreignOrigin() const {
  return foreign_ ? "https://localhost:" + std::to_string(foreign_->port()) : std::string();
}

std::string Bystanders::plainHttpOrigin() const {
  return plain_ ? plain_->origin() : std::string();
}

}  // namespace pansift::sim
