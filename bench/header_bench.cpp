// The header parser runs once per new message of a session; recipient expansion once per
// forward or reply.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "messages/header_summary.h"

namespace {

// A typical header as TOP n 0 returns it: trace lines, folded fields, the final empty line.
std::vector<std::string> TypicalHeader() {
    std::vector<std::string> lines = {
        "Return-Path: <bounce-4711@lists.example.org>",
        "X-Original-To: user@example.com",
        "Delivered-To: user@example.com",
    };
    for (int hop = 0; hop < 6; ++hop) {
        lines.push_back("Received: from relay" + std::to_string(hop) +
                        ".example.net (relay.example.net [192.0.2." + std::to_string(hop) + "])");
        lines.push_back("\tby mx.example.com (Postfix) with ESMTPS id 4F2A1C0" +
                        std::to_string(hop));
        lines.push_back("\tfor <user@example.com>; Mon, 7 Jun 1999 10:15:02 +0200 (CEST)");
    }
    const std::vector<std::string> rest = {
        "DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=lists.example.org;",
        "\ts=mail; t=928750502; bh=47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=;",
        "\th=From:To:Subject:Date:Message-ID:MIME-Version:Content-Type;",
        "From: \"Example Newsletter\" <news@lists.example.org>",
        "To: user@example.com",
        "Cc: other@example.com, third@example.com,",
        " fourth@example.com",
        "Subject: Your weekly digest: 12 new articles on data files and",
        " header parsing",
        "Date: Mon, 7 Jun 1999 10:15:01 +0200",
        "Message-ID: <1234567890.4711@lists.example.org>",
        "MIME-Version: 1.0",
        "Content-Type: text/plain; charset=ISO-8859-1",
        "Content-Transfer-Encoding: quoted-printable",
        "List-Unsubscribe: <mailto:unsubscribe@lists.example.org>",
        "X-Spam-Score: 1.2",
        "",
    };
    lines.insert(lines.end(), rest.begin(), rest.end());
    return lines;
}

void BM_ParseHeaders(benchmark::State& state) {
    const auto lines = TypicalHeader();
    auto fields = zelm::BuiltInHeaderFieldList();
    fields.push_back("X-Spam-Score");
    fields.push_back("List-Unsubscribe");
    zelm::SortHeaderFieldList(fields);
    zelm::MessageState message;
    for (auto _ : state) {
        zelm::ParseHeaders(lines, fields, 48213, message);
        benchmark::DoNotOptimize(message.headerSummary.values.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ExpandRecipients(benchmark::State& state) {
    const auto fields = zelm::BuiltInHeaderFieldList();
    zelm::MessageState message;
    message.messageVariables.RebuildNames(fields, {"Amount", "Order"});
    zelm::ParseHeaders(TypicalHeader(), fields, 48213, message);
    for (auto _ : state) {
        zelm::ExpandRecipients("{Reply-To},orders@example.com, {From},{Return-Path}", message);
        benchmark::DoNotOptimize(message.recipientList.data());
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_ParseHeaders);
BENCHMARK(BM_ExpandRecipients);

BENCHMARK_MAIN();
