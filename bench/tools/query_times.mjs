// Times the local service's search and suggestions on a big store: GET
// /v1/terms for a mix of queries (a term, a term's start, words of the
// fields common and rare, Chinese runs of one to four characters), and POST
// /v1/lookup of misspelt names taken from the dictionary file (letters
// swapped, dropped or doubled; Chinese characters changed), each miss
// carrying its suggestions. Each request runs ROUNDS times; prints one line
// per query and the medians of all searches and of all suggestions, in ms.
//
//   node bench/tools/query_times.mjs PORT TOKEN TERMS.jsonl [ROUNDS]
import http from 'node:http';
import fs from 'node:fs';

const [port, token, file, roundsText] = process.argv.slice(2);
const rounds = Number(roundsText ?? 15);
const agent = new http.Agent({ keepAlive: false });

function request(method, path, body) {
  return new Promise((resolve, reject) => {
    const started = process.hrtime.bigint();
    const req = http.request({ host: '127.0.0.1', port, method, path, agent,
      headers: { 'X-Ruvo-Token': token, 'Content-Type': 'application/json' } }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => {
        const ms = Number(process.hrtime.bigint() - started) / 1e6;
        if (res.statusCode !== 200) reject(new Error(`${method} ${path}: ${res.statusCode}`));
        else resolve({ ms, body: JSON.parse(Buffer.concat(chunks).toString('utf8')) });
      });
    });
    req.on('error', reject);
    req.end(body ?? '');
  });
}

const median = (xs) => { const s = [...xs].sort((a, b) => a - b); return s[Math.floor(s.length / 2)]; };

// Names from the start of the file: enough to misspell without reading it all.
const head = fs.readFileSync(file, { encoding: 'utf8', flag: 'r' }).slice(0, 4 << 20).split('\n').slice(0, 4000);
const names = head.filter(Boolean).map((line) => JSON.parse(line).term);
const latin = names.filter((n) => /^[a-z]+[0-9]*$/.test(n) && n.replace(/[0-9]/g, '').length >= 5).slice(0, 12);
const chinese = names.filter((n) => /^[\u4e00-\u9fff]+[0-9]*$/.test(n)).slice(0, 8);

const misspelt = [];
latin.forEach((name, i) => {
  const word = name.replace(/[0-9]+$/, '');
  const k = 1 + (i % (word.length - 2));
  const forms = [word.slice(0, k) + word[k + 1] + word[k] + word.slice(k + 2),  // swapped
    word.slice(0, k) + word.slice(k + 1),                                          // dropped
    word.slice(0, k) + word[k] + word.slice(k)];                                   // doubled
  misspelt.push(forms[i % 3]);
});
chinese.forEach((name) => { const chars = [...name.replace(/[0-9]+$/, '')]; chars[chars.length - 1] = '鲸'; misspelt.push(chars.join('')); });

const searches = ['model', 'data model', 'vector search index', 'reward', '检索', '数据', '数', '注意力机制',
  latin[0], latin[1].slice(0, 3), names[0], 'zzqx', '量化 蒸馏', 'policy signal'];

async function timeAll(label, make) {
  const all = [];
  for (const item of make) {
    const times = [];
    let last;
    for (let r = 0; r < rounds; r++) { last = await item.run(); times.push(last.ms); }
    all.push(median(times));
    console.log(`${label} ${JSON.stringify(item.name)} median ${median(times).toFixed(2)} ms ${item.note(last.body)}`);
  }
  return median(all);
}

const searchMedian = await timeAll('search', searches.map((q) => ({
  name: q, run: () => request('GET', `/v1/terms?q=${encodeURIComponent(q)}&limit=20`),
  note: (b) => `total ${b.total}` })));
const suggestMedian = await timeAll('suggest', misspelt.map((t) => ({
  name: t, run: () => request('POST', '/v1/lookup', JSON.stringify({ text: t })),
  note: (b) => `hit ${b.hit} suggestions ${JSON.stringify(b.suggestions ?? [])}` })));
console.log(`search_median_ms ${searchMedian.toFixed(2)}`);
console.log(`suggest_median_ms ${suggestMedian.toFixed(2)}`);
