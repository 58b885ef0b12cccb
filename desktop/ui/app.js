// Ruvo's interface: one page, a view per address after "#", every datum from
// the local service's JSON routes. Signing in leaves the session's key in the
// address ("#session=…"); it moves at once into this tab's sessionStorage,
// which no page of another origin (another port included) can read, and goes
// with every request in a header. The session cookie only loads the page:
// cookies reach every server on 127.0.0.1, so the service never takes one
// alone for a request. Nothing here ever sees a token.
'use strict';

const SESSION_KEY = 'ruvo-session';
const SESSION_HEADER = 'X-Ruvo-Session';

// Takes the key out of the address before anything reads it, so it is not
// left in the address bar or in the history.
(function takeSessionKey() {
  const match = /^#session=([0-9a-f]+)$/.exec(location.hash);
  if (!match) return;
  try {
    sessionStorage.setItem(SESSION_KEY, match[1]);
  } catch {
    // No storage (a private mode that refuses it): requests will say so.
  }
  history.replaceState(null, '', location.pathname + location.search);
})();

function sessionKey() {
  try {
    return sessionStorage.getItem(SESSION_KEY);
  } catch {
    return null;
  }
}

const FIELDS = [
  ['definition', '定义'],
  ['plain', '通俗解释'],
  ['example', '例子'],
];
const SOURCES = { user: '人工添加', glossary: '自带词库', model: '模型生成', dictionary: '词典' };
const LANGS = { zh: '中文', en: '英文' };
const SEARCH_DELAY_MS = 60;
const PAGE = 20;

const main = document.getElementById('main');
const notice = document.getElementById('notice');
let lastQuery = '';
let noticeTimer = 0;

// ---- talking to the service ----

class ServiceError extends Error {
  constructor(message, status, reply) {
    super(message);
    this.status = status;
    this.reply = reply;
  }
}

// Sends one request to the service, the session's key with it; `options.raw`
// sends the body as it is, `options.blob` gives the reply as a Blob.
async function api(method, path, body, options = {}) {
  const init = { method, credentials: 'same-origin', signal: options.signal, headers: {} };
  const key = sessionKey();
  if (key) init.headers[SESSION_HEADER] = key;
  if (body !== undefined) {
    if (options.raw) {
      init.body = body;
      init.headers['Content-Type'] = 'application/octet-stream';
    } else {
      init.body = JSON.stringify(body);
      init.headers['Content-Type'] = 'application/json';
    }
  }
  const response = await fetch(path, init);
  if (options.blob && response.ok) return response.blob();
  let reply = null;
  try {
    reply = await response.json();
  } catch {
    throw new ServiceError(`服务的回答不是 JSON（HTTP ${response.status}）`, response.status, null);
  }
  if (response.status === 401) {
    const message = key
      ? '登录已失效（服务可能重启过）：请在终端运行 ruvo-gui.exe 重新打开'
      : '这个标签页还没有登录：每个新标签页都要一个新的登录地址，请在终端运行 ruvo-gui.exe 打开';
    throw new ServiceError(message, 401, reply);
  }
  if (!reply || reply.ok !== true) {
    if (options.acceptMiss && reply && reply.kind === 'miss') return reply;
    throw new ServiceError((reply && reply.message) || `请求失败（HTTP ${response.status}）`, response.status, reply);
  }
  return reply;
}

// ---- small helpers ----

function el(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === undefined || value === null || value === false) continue;
    if (name === 'text') node.textContent = value;
    else node.setAttribute(name, value === true ? '' : value);
  }
  for (const child of children) if (child !== null && child !== undefined) node.append(child);
  return node;
}

function slot(root, name) {
  return root.querySelector(`[data-slot="${name}"]`);
}

function say(text) {
  notice.textContent = text;
  clearTimeout(noticeTimer);
  noticeTimer = setTimeout(() => (notice.textContent = ''), 4000);
}

function fieldValue(fields, key, label) {
  if (!fields) return '';
  return fields[key] ?? fields[label] ?? '';
}

function when(iso) {
  if (!iso) return '';
  const date = new Date(iso);
  return Number.isNaN(date.getTime()) ? iso : date.toLocaleString('zh-CN', { hour12: false });
}

function splitAliases(text) {
  return text
    .split(/[,，;；、|\n]/)
    .map((alias) => alias.trim())
    .filter((alias) => alias !== '');
}

// Draws a view and returns its own element: what a view fills in once an
// answer arrives stays its own even if another view has replaced it meanwhile.
function show(templateId, title) {
  const view = document.getElementById(templateId).content.cloneNode(true);
  const own = view.firstElementChild;
  main.replaceChildren(view);
  document.title = `${title} · Ruvo 词库`;
  return own;
}

function failure(root, error) {
  const box = el('p', { class: 'error', role: 'alert', text: error.message });
  root.append(box);
}

// ---- views ----

async function searchView(params) {
  const root = show('view-search', '搜索');
  const input = root.querySelector('#q');
  const results = slot(root, 'results');
  const count = slot(root, 'count');
  const suggestions = slot(root, 'suggestions');
  const suggestionList = slot(root, 'suggestion-list');
  const addMissing = slot(root, 'add-missing');
  let controller = null;
  let timer = 0;
  let sequence = 0;
  let shown = { query: null, terms: [] };

  async function run(query) {
    const mine = ++sequence;
    if (controller) controller.abort();
    controller = new AbortController();
    const path = `/v1/terms?limit=${PAGE}&q=${encodeURIComponent(query)}`;
    let reply;
    try {
      reply = await api('GET', path, undefined, { signal: controller.signal });
    } catch (error) {
      if (error.name === 'AbortError') return null;
      if (mine === sequence) {
        count.textContent = error.message;
        results.replaceChildren();
        results.removeAttribute('aria-busy');
      }
      return null;
    }
    if (mine !== sequence) return null;
    render(query, reply);
    results.removeAttribute('aria-busy');
    return reply;
  }

  function render(query, reply) {
    shown = { query, terms: reply.terms };
    const trimmed = query.trim();
    count.textContent = trimmed === ''
      ? (reply.total === 0 ? '词库还是空的' : `最近更新的词条（共 ${reply.total} 条）`)
      : (reply.total === 0 ? `没有找到「${trimmed}」`
        : reply.totalExact === false ? `找到 ${reply.total} 条以上，只列出前 ${reply.total} 条` : `找到 ${reply.total} 条`);
    results.replaceChildren(...reply.terms.map((term) => {
      const gist = FIELDS.map(([key, label]) => fieldValue(term.fields, key, label)).find((text) => text) || '';
      return el('li', {},
        el('a', { href: `#/term/${term.id}` },
          el('span', { class: 'name', text: term.term }),
          el('span', { class: 'lang', text: term.dictionary ? `${LANGS[term.lang] || term.lang} · ${term.dictionary.name}`
            : LANGS[term.lang] || term.lang }),
          el('span', { class: 'gist', text: gist })));
    }));
    const near = trimmed !== '' && reply.total === 0 ? reply.suggestions || [] : [];
    suggestions.hidden = near.length === 0;
    suggestionList.replaceChildren(...near.map((name) =>
      el('li', {}, el('a', { class: 'button', href: `#/?q=${encodeURIComponent(name)}`, text: name }))));
    addMissing.hidden = !(trimmed !== '' && reply.total === 0);
    if (!addMissing.hidden) {
      const link = addMissing.querySelector('a');
      link.href = `#/add?term=${encodeURIComponent(trimmed)}`;
      link.textContent = `把「${trimmed}」添加到词库`;
    }
  }

  // The query is kept for the way back to this view, not in the address:
  // rewriting the address at every key would make the browser fetch the
  // icon again each time.
  function remember(query) {
    lastQuery = query;
    if (location.hash.includes('?')) history.replaceState(null, '', '#/');
  }

  input.addEventListener('input', () => {
    clearTimeout(timer);
    const query = input.value;
    // Busy from the keystroke until its results are on screen.
    results.setAttribute('aria-busy', 'true');
    remember(query);
    timer = setTimeout(() => run(query), SEARCH_DELAY_MS);
  });

  root.querySelector('[data-form="search"]').addEventListener('submit', async (event) => {
    event.preventDefault();
    clearTimeout(timer);
    let terms = shown.query === input.value ? shown.terms : null;
    if (terms === null) {
      const reply = await run(input.value);
      terms = reply ? reply.terms : [];
    }
    if (terms.length > 0) location.hash = `#/term/${terms[0].id}`;
  });

  const query = params.get('q') ?? lastQuery;
  input.value = query;
  lastQuery = query;
  input.focus();
  await run(query);
}

async function termView(id) {
  const root = show('view-term', '词条');
  let reply;
  try {
    reply = await api('GET', `/v1/terms/${encodeURIComponent(id)}`);
  } catch (error) {
    if (!root.isConnected) return;
    main.replaceChildren(el('h1', { text: '没有这个词条' }));
    failure(main, error);
    return;
  }
  const term = reply.term;
  document.title = `${term.term} · Ruvo 词库`;
  slot(root, 'term').textContent = term.term;
  slot(root, 'lang').textContent = `${LANGS[term.lang] || term.lang}（${term.lang}）`;
  slot(root, 'source').textContent = term.dictionary ? `词典：${term.dictionary.name}` : SOURCES[term.source] || term.source;
  slot(root, 'aliases').textContent = term.aliases.length ? term.aliases.join('、') : '（无）';
  slot(root, 'updated').textContent = when(term.updatedAt);
  const fields = slot(root, 'fields');
  const known = new Set();
  for (const [key, label] of FIELDS) {
    known.add(key);
    known.add(label);
    const value = fieldValue(term.fields, key, label);
    if (value) fields.append(el('dt', { text: label }), el('dd', { text: value }));
  }
  for (const [name, value] of Object.entries(term.fields)) {
    if (!known.has(name) && typeof value === 'string' && value) fields.append(el('dt', { text: name }), el('dd', { text: value }));
  }
  if (!fields.children.length) fields.append(el('dd', { text: '还没有释义。' }));
  const seeAlso = seeAlsoLinks(term.seeAlso);
  if (seeAlso) slot(root, 'see-also').append(seeAlso);
  // A dictionary's entry changes with its dictionary (the 词典 page), not here.
  if (term.dictionary) root.querySelector('.actions').remove();
  else {
    slot(root, 'edit').href = `#/edit/${term.id}`;
    root.querySelector('[data-action="delete"]').addEventListener('click', () => confirmDelete(term));
  }
  await otherArticles(root, term);
}

function confirmDelete(term) {
  const dialog = document.getElementById('confirm-delete');
  document.getElementById('confirm-text').textContent = `「${term.term}」和它的别名会从词库里删掉，不能撤销。`;
  dialog.returnValue = '';
  dialog.onclose = async () => {
    if (dialog.returnValue !== 'delete') return;
    try {
      await api('DELETE', `/v1/terms/${encodeURIComponent(term.id)}`);
      say(`已删除「${term.term}」`);
      location.hash = '#/';
    } catch (error) {
      say(`没删掉：${error.message}`);
    }
  };
  dialog.showModal();
}

async function editView(id, params) {
  const root = show('view-edit', id ? '编辑词条' : '添加词条');
  const form = root.querySelector('[data-form="edit"]');
  const error = slot(root, 'error');
  let original = null;
  if (id) {
    slot(root, 'heading').textContent = '编辑词条';
    try {
      original = (await api('GET', `/v1/terms/${encodeURIComponent(id)}`)).term;
    } catch (problem) {
      error.textContent = problem.message;
      return;
    }
    form.elements.term.value = original.term;
    form.elements.lang.value = original.lang;
    form.elements.aliases.value = original.aliases.join('、');
    for (const [key, label] of FIELDS) form.elements[key].value = fieldValue(original.fields, key, label);
    slot(root, 'cancel').href = `#/term/${original.id}`;
  } else {
    form.elements.term.value = params.get('term') || '';
  }
  (form.elements.term.value ? form.elements.definition : form.elements.term).focus();

  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    error.textContent = '';
    const term = form.elements.term.value.trim();
    if (!term) {
      error.textContent = '请填写词条';
      form.elements.term.focus();
      return;
    }
    // The three labelled fields are always sent, so a cleared one is
    // removed; a renamed entry keeps its other fields.
    const fields = {};
    if (original) {
      for (const [name, value] of Object.entries(original.fields)) fields[name] = value;
      for (const [key, label] of FIELDS) delete fields[label];
    }
    for (const [key] of FIELDS) fields[key] = form.elements[key].value.trim();
    const body = { term, lang: form.elements.lang.value, fields, aliases: splitAliases(form.elements.aliases.value) };
    const button = form.querySelector('button[type="submit"]');
    button.disabled = true;
    try {
      const saved = await api('POST', '/v1/save', body);
      if (original && String(saved.id) !== String(original.id)) {
        await api('DELETE', `/v1/terms/${encodeURIComponent(original.id)}`);
      }
      say(`已保存「${saved.term}」`);
      location.hash = `#/term/${saved.id}`;
    } catch (problem) {
      error.textContent = `没保存：${problem.message}`;
    } finally {
      button.disabled = false;
    }
  });
}

async function explainView() {
  const root = show('view-explain', '解释');
  const form = root.querySelector('[data-form="explain"]');
  const answer = slot(root, 'answer');
  form.elements.text.focus();
  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    const text = form.elements.text.value;
    if (!text.trim()) {
      form.elements.text.focus();
      return;
    }
    const button = form.querySelector('button[type="submit"]');
    button.disabled = true;
    answer.replaceChildren(el('p', { class: 'hint', text: form.elements.allowCloud.checked ? '正在解释（可能要问模型，稍等）…' : '正在查词库…' }));
    try {
      const reply = await api('POST', '/v1/explain',
        { text, mode: form.elements.mode.value, lang: form.elements.lang.value, allowCloud: form.elements.allowCloud.checked },
        { acceptMiss: true });
      answer.replaceChildren(...explained(reply, text));
    } catch (error) {
      answer.replaceChildren(el('p', { class: 'error', role: 'alert', text: error.message }));
    } finally {
      button.disabled = false;
    }
  });
}

function explained(reply, text) {
  if (reply.ok !== true) {
    const parts = [el('p', { text: reply.message })];
    if (reply.suggestions && reply.suggestions.length) {
      parts.push(el('p', { text: '是不是要找：' }),
        el('ul', {}, ...reply.suggestions.map((name) =>
          el('li', {}, el('a', { href: `#/?q=${encodeURIComponent(name)}`, text: name })))));
    }
    if (!text.includes('\n') && text.trim().length <= 100) {
      parts.push(el('p', {}, el('a', { class: 'button', href: `#/add?term=${encodeURIComponent(text.trim())}`, text: `把「${text.trim()}」添加到词库` })));
    }
    return parts;
  }
  const fromStore = reply.source === 'local';
  const badge = el('p', {}, el('span', {
    class: fromStore ? 'from' : 'from model',
    text: fromStore ? '来自词库（0 token）' : `来自模型${reply.model ? ` ${reply.model}` : ''}${reply.tokens ? `（${reply.tokens} token）` : ''}`,
  }));
  const heading = el('h2', {}, reply.id && reply.term
    ? el('a', { href: `#/term/${reply.id}`, text: reply.term })
    : (reply.term || text.trim()));
  const list = el('dl', { class: 'fields' });
  for (const [key, label] of FIELDS) {
    const value = reply[key] || fieldValue(reply.fields, key, label);
    if (value) list.append(el('dt', { text: label }), el('dd', { text: value }));
  }
  return [badge, heading, list];
}

async function missesView() {
  const root = show('view-misses', '没查到的词');
  let reply;
  try {
    reply = await api('GET', '/v1/misses');
  } catch (error) {
    failure(root, error);
    return;
  }
  const table = slot(root, 'table');
  slot(root, 'empty').hidden = reply.misses.length > 0;
  table.hidden = reply.misses.length === 0;
  slot(root, 'rows').replaceChildren(...reply.misses.map((miss) => el('tr', {},
    el('td', { text: miss.text }),
    el('td', { class: 'num', text: String(miss.count) }),
    el('td', { class: 'num', text: when(miss.lastAt) }),
    el('td', {}, el('a', { class: 'button', href: `#/add?term=${encodeURIComponent(miss.text)}`,
      'aria-label': `添加「${miss.text}」`, text: '添加' })))));
}

function formatOf(name) {
  const lower = name.toLowerCase();
  if (lower.endsWith('.csv')) return 'csv';
  if (lower.endsWith('.tsv') || lower.endsWith('.tab')) return 'tsv';
  return 'jsonl';
}

async function exchangeView() {
  const root = show('view-exchange', '导入导出');
  const form = root.querySelector('[data-form="import"]');
  const error = slot(root, 'error');
  const result = slot(root, 'result');
  const exportButton = root.querySelector('[data-action="export"]');
  const exportError = slot(root, 'export-error');
  // The export needs the session's key like every request, so it is fetched
  // here and handed to the browser as a file, not followed as a link.
  exportButton.addEventListener('click', async () => {
    exportError.textContent = '';
    exportButton.disabled = true;
    try {
      const blob = await api('GET', '/v1/export', undefined, { blob: true });
      const address = URL.createObjectURL(blob);
      const link = el('a', { href: address, download: 'ruvo-terms.jsonl', hidden: true });
      document.body.append(link);
      link.click();
      link.remove();
      setTimeout(() => URL.revokeObjectURL(address), 60000);
    } catch (problem) {
      exportError.textContent = `没有导出：${problem.message}`;
    } finally {
      exportButton.disabled = false;
    }
  });
  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    error.textContent = '';
    result.textContent = '';
    const file = form.elements.file.files[0];
    if (!file) {
      error.textContent = '请先选择一个文件';
      return;
    }
    const format = form.elements.format.value || formatOf(file.name);
    const button = form.querySelector('button[type="submit"]');
    button.disabled = true;
    result.textContent = `正在导入 ${file.name}…`;
    try {
      const reply = await api('POST', `/v1/import?format=${format}`, file, { raw: true });
      result.textContent = `导入 ${reply.imported} 条：新增 ${reply.added}，更新 ${reply.updated}，保留 ${reply.kept}`;
      form.reset();
    } catch (problem) {
      result.textContent = '';
      error.textContent = `没有导入（词库没有改动）：${problem.message}`;
    } finally {
      button.disabled = false;
    }
  });
}

async function statusView() {
  const root = show('view-status', '状态');
  let health;
  try {
    health = await api('GET', '/v1/health');
  } catch (error) {
    failure(root, error);
    return;
  }
  slot(root, 'terms').textContent = health.terms === null ? '数不出来（词库文件损坏）' : String(health.terms);
  slot(root, 'version').textContent = `ruvo-gui ${health.version}（协议 ${health.protocol}）`;
  const model = health.model || {};
  slot(root, 'model').textContent = model.configured
    ? `已配置：${model.name || ''}${model.baseUrl ? `（${model.baseUrl}）` : ''}`
    : `未配置${model.problem ? `：${model.problem}` : '（只用本地词库）'}`;
  slot(root, 'store').textContent = health.store ? health.store.message : '正常';
  await modelForm(root);
}

// ---- the address after "#" ----

async function route() {
  const hash = location.hash.replace(/^#/, '') || '/';
  const [path, query = ''] = hash.split('?');
  const params = new URLSearchParams(query);
  const parts = path.split('/').filter(Boolean);
  const section = parts[0] || 'search';
  for (const link of document.querySelectorAll('[data-nav]')) {
    if (link.dataset.nav === section) link.setAttribute('aria-current', 'page');
    else link.removeAttribute('aria-current');
  }
  switch (section) {
    case 'term': return termView(parts[1]);
    case 'edit': return editView(parts[1], params);
    case 'add': return editView(null, params);
    case 'explain': return explainView();
    case 'misses': return missesView();
    case 'dictionaries': return dictionariesView();
    case 'exchange': return exchangeView();
    case 'status': return statusView();
    default: return searchView(params);
  }
}

window.addEventListener('hashchange', () => {
  route();
});

// "/" anywhere but in a text field goes to the search field.
document.addEventListener('keydown', (event) => {
  if (event.key !== '/' || event.ctrlKey || event.metaKey || event.altKey) return;
  const target = event.target;
  if (target instanceof HTMLElement && (target.isContentEditable || target.closest('input, textarea, select'))) return;
  event.preventDefault();
  const field = document.getElementById('q');
  if (field) field.focus();
  else location.hash = '#/';
});

route();
