#pragma once

// The page's requests through cpp-httplib, for server tests that look at a whole reply at once.

#include <httplib.h>

#include <string>

namespace tavrolin::test {

constexpr const char* kForm = "application/x-www-form-urlencoded";

// A form post of `body` to the page.
inline httplib::Result postForm(httplib::Client& client, const std::string& body) {
    return client.Post("/Tavrolin.asp", body, kForm);
}

// "STATUS BODY", or "no reply": one comparison that shows the whole of a wrong answer. A saved
// post is "200 ", with nothing to say.
inline std::string said(const httplib::Result& reply) {
    return reply ? std::to_string(reply->status) + " " + reply->body : "no reply";
}

}  // namespace tavrolin::test
