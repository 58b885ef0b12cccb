-- wrk script: POST /v1/lookup {"text":"RAG"} with the token from RUVO_TOKEN,
-- and a machine-readable summary for bench/run.sh.
wrk.method = "POST"
wrk.body = '{"text":"RAG"}'
wrk.headers["Content-Type"] = "application/json"
wrk.headers["X-Ruvo-Token"] = os.getenv("RUVO_TOKEN")

function done(summary, latency, requests)
  local seconds = summary.duration / 1e6
  io.write(string.format("rps %.0f\n", summary.requests / seconds))
  io.write(string.format("p50_us %d\n", latency:percentile(50)))
  io.write(string.format("p99_us %d\n", latency:percentile(99)))
  io.write(string.format("errors %d\n", summary.errors.connect + summary.errors.read +
    summary.errors.write + summary.errors.status + summary.errors.timeout))
end
