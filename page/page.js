// The settings page: shows the settings file that glimmerward-check serves, and changes it.
// Every text that comes from the file goes in through textContent, and every value travels
// as the server's text or the player's text, never through a JS number, so nothing is rounded.
'use strict';
(function () {
  // The key comes in the address that glimmerward-check opens. It leaves the address bar (and
  // so what the browser keeps of it) at once, and stays in this tab's storage for a reload.
  const SECRET = (() => {
    const STORED = 'glimmerward-key';
    const params = new URLSearchParams(location.search);
    const given = params.get('key');
    if (!given) {
      try { return sessionStorage.getItem(STORED) || ''; } catch (error) { return ''; }
    }
    try { sessionStorage.setItem(STORED, given); } catch (error) { /* a reload then needs the address again */ }
    params.delete('key');
    const rest = params.toString();
    history.replaceState(null, '', location.pathname + (rest ? '?' + rest : '') + location.hash);
    return given;
  })();
  const POLL_MS = 400;      // an edit made outside shows within a second
  const BURST_GAP_MS = 100; // a drag writes at most this often

  const $ = (id) => document.getElementById(id);
  const el = (tag, props, children) => {
    const node = document.createElement(tag);
    for (const [name, value] of Object.entries(props || {})) {
      if (name === 'text') node.textContent = value;
      else if (name === 'class') node.className = value;
      else node.setAttribute(name, value);
    }
    for (const child of children || []) if (child) node.append(child);
    return node;
  };

  let state = null;          // the last whole state the server sent
  const rows = new Map();    // key -> the row's controls
  // Changes waiting to be sent, one per key, the latest winning: key -> {value} or {reset: true}.
  const queue = new Map();
  let queueOps = [];         // the undo steps the waiting changes belong to
  let inFlight = null;       // {changes: Map, ops: [...]} while a request is out
  let lastSend = {at: 0, burst: null};
  let pumpTimer = 0;
  let epoch = 0;             // bumped by every change sent, so an older poll answer is dropped
  const undoStack = [];
  const redoStack = [];
  let burst = null;          // {id, control, op}: the control being dragged and its undo step
  let burstCount = 0;

  // ---- talking to glimmerward-check ----------------------------------------------------

  async function api(path, body) {
    const init = {headers: {'X-Glimmerward-Key': SECRET}, cache: 'no-store'};
    if (body !== undefined) {
      init.method = 'POST';
      init.headers['Content-Type'] = 'application/json';
      init.body = JSON.stringify(body);
    }
    const response = await fetch(path, init);
    const type = response.headers.get('Content-Type') || '';
    const answer = type.startsWith('application/json') ? await response.json() : {refusal: await response.text()};
    return {status: response.status, answer};
  }

  let pollFailures = 0;
  async function poll() {
    if (!inFlight && queue.size === 0 && state) {
      const asked = epoch;
      try {
        const {status, answer} = await api('/api/state?since=' + encodeURIComponent(state.version));
        if (status !== 200) throw new Error(answer.refusal || 'status ' + status);
        if (pollFailures) notice('info', 'The settings tool answers again.');
        pollFailures = 0;
        if (asked === epoch && !inFlight && queue.size === 0 && !answer.unchanged && answer.version !== state.version) {
          const was = state.version;
          show(answer, {force: false});
          notice('warn', was === ''
            ? 'The settings file is there now; the page shows it.'
            : answer.version === ''
              ? 'The settings file was deleted or moved outside this page. Changes made here will make it again from the release’s defaults.'
              : 'The settings file was changed outside this page (by hand or by another program). The page now shows it as it is.');
        }
      } catch (error) {
        if (++pollFailures === 2) {
          notice('error', 'The page cannot reach glimmerward-check: it may have been closed. ' +
            'Start it again with --page and open the address it shows; changes made here are not written until then.');
        }
      }
    }
    setTimeout(poll, pollFailures > 2 ? 2000 : POLL_MS);
  }

  // The value the page believes a key will have once everything sent and waiting is written.
  function believed(key) {
    const pick = (change) => change.reset ? settingOf(key).default : change.value;
    if (queue.has(key)) return pick(queue.get(key));
    if (inFlight && inFlight.changes.has(key)) return pick(inFlight.changes.get(key));
    return settingOf(key).value;
  }

  function enqueue(key, change, op) {
    const now = change.reset ? settingOf(key).default : change.value;
    if (!change.reset && now === believed(key)) return false;
    queue.set(key, change);
    if (op && !queueOps.includes(op)) queueOps.push(op);
    pump();
    return true;
  }

  // One request at a time, based on the last answer's version; a burst's later changes wait
  // until its last request is BURST_GAP_MS old, and whatever is waiting then goes together.
  function pump() {
    clearTimeout(pumpTimer);
    if (inFlight || queue.size === 0) return;
    // The burst these changes belong to, if any (a drag's changes are sent by themselves).
    const burstOp = queueOps.find((op) => op.burst);
    const burstId = burstOp ? burstOp.burst : null;
    if (burstId !== null && lastSend.burst === burstId) {
      const wait = lastSend.at + BURST_GAP_MS - performance.now();
      if (wait > 0) { pumpTimer = setTimeout(pump, wait); return; }
    }
    const changes = new Map(queue);
    const ops = queueOps;
    queue.clear();
    queueOps = [];
    inFlight = {changes, ops};
    lastSend = {at: performance.now(), burst: burstId};
    epoch++;
    const body = {expect: state.version, set: [], reset: []};
    for (const [key, change] of changes) {
      if (change.reset) body.reset.push(key);
      else body.set.push({key, value: change.value});
    }
    api('/api/change', body).then(({status, answer}) => answered(status, answer), (error) => answered(0, {refusal: String(error.message || error)}));
  }

  function answered(status, answer) {
    const sent = inFlight;
    inFlight = null;
    epoch++;
    const outcome = answer.outcome;
    if (outcome === 'written' || outcome === 'unchanged') {
      if (answer.state) show(answer.state, {force: false});
      if (outcome === 'written') {
        const done = (answer.done || []).map((line) => line.replace(/^set /, '').replace(/^reset /, ''));
        notice('ok', 'Written to the file: ' + (done.length ? done.join('; ') : 'your change') + '.');
      } else if (queue.size === 0) {
        notice('info', 'The file already said so; nothing was written.');
      }
    } else {
      // Nothing was written: what was sent and what waits after it are dropped, and the undo
      // steps they carried go back where they were.
      const dropped = [...new Set(sent.ops.concat(queueOps))];
      queue.clear();
      queueOps = [];
      endBurst();
      for (const op of dropped.reverse()) revertOp(op);
      if (answer.state) show(answer.state, {force: true});
      else if (state) show(state, {force: true});
      notice(outcome === 'stale' ? 'warn' : 'error', refusalText(status, answer));
    }
    updateUndo();
    pump();
  }

  // A refused change in the server's words: its problems, and its advice on a line of its own.
  function refusalText(status, answer) {
    // The server's sentences, each ended with a full stop.
    const sentence = (text) => /[.!?]$/.test(text.trim()) ? text.trim() : text.trim() + '.';
    if (answer.outcome) {
      const lines = ['Not written: ' + (answer.problems || []).map(sentence).join(' ')];
      if (answer.outcome === 'bad-input') lines[0] += ' The field shows the value in the file again.';
      if (answer.advice) lines.push('What to do: ' + sentence(answer.advice));
      return lines;
    }
    if (status === 0) {
      return 'Not written: the page cannot reach glimmerward-check (' + answer.refusal + '). It may have been closed; start it again with --page.';
    }
    return 'Not written: glimmerward-check refused the change (' + status + (answer.refusal ? ': ' + answer.refusal.trim() : '') + ').';
  }

  // ---- undo and redo -------------------------------------------------------------------------

  // An undo step: one control's change (a whole drag), from `before` to `after`.
  function newEntry(key) {
    const entry = {key, before: {value: believed(key)}, after: null};
    undoStack.push(entry);
    redoStack.length = 0;
    return {entry, kind: 'do'};
  }

  function revertOp(op) {
    const {entry, kind} = op;
    const from = kind === 'redo' ? undoStack : kind === 'undo' ? redoStack : undoStack;
    const index = from.lastIndexOf(entry);
    if (index >= 0) from.splice(index, 1);
    if (kind === 'undo') undoStack.push(entry);
    if (kind === 'redo') redoStack.push(entry);
  }

  function step(kind) {
    endBurst();
    const from = kind === 'undo' ? undoStack : redoStack;
    const to = kind === 'undo' ? redoStack : undoStack;
    const entry = from.pop();
    if (!entry) return;
    to.push(entry);
    const target = kind === 'undo' ? entry.before : entry.after;
    const change = target.reset ? {reset: true} : {value: target.value};
    if (!enqueue(entry.key, change, {entry, kind})) {
      notice('info', 'The file already says ' + entry.key + ' = ' + believed(entry.key) + '.');
    }
    setControls(entry.key, believed(entry.key));
    updateUndo();
  }

  function updateUndo() {
    const describe = (entry, target) => entry.key + ' to ' + (target.reset ? 'its default' : target.value);
    const nextUndo = undoStack[undoStack.length - 1];
    const nextRedo = redoStack[redoStack.length - 1];
    $('undo').disabled = !nextUndo;
    $('redo').disabled = !nextRedo;
    $('undo').title = nextUndo ? 'Undo (Ctrl+Z): set ' + describe(nextUndo, nextUndo.before) : 'Nothing to undo';
    $('redo').title = nextRedo ? 'Redo (Ctrl+Y): set ' + describe(nextRedo, nextRedo.after) : 'Nothing to redo';
  }

  // ---- a player's changes --------------------------------------------------------------------

  function settingOf(key) { return rows.get(key).setting; }

  // A change from a control; `continuing` marks a drag's `input` events, which form one step.
  function changeFrom(control, key, value, continuing) {
    let op;
    if (burst && burst.control === control) {
      op = burst.op;
    } else {
      endBurst();
      if (value === believed(key) && !value.reset) return;
      op = newEntry(key);
      if (continuing) {
        burst = {id: ++burstCount, control, op};
        op.burst = burst.id;
      }
    }
    const change = value.reset ? {reset: true} : {value};
    op.entry.after = change;
    if (!continuing) endBurst();
    enqueue(key, change, op);
    if (value.reset) setControls(key, settingOf(key).default);
    updateUndo();
  }

  function endBurst() {
    if (!burst) return;
    burst = null;
    pump();
  }

  // The colour's five fields as the file writes them: channels 0-2 from the picker, channel 3
  // and the number as their fields' texts stand.
  function colorText(row) {
    const hex = row.picker.value;
    const channels = [1, 3, 5].map((at) => String(parseInt(hex.slice(at, at + 2), 16)));
    return channels.concat(row.channel3.value.trim(), row.number.value.trim()).join(' ');
  }

  function needsNumber(what) {
    notice('error', 'Not written: ' + what + ' needs a number, such as 1.5 (with a point, not a comma). ' +
      'The field shows the value in the file again.');
  }

  function wireFloat(row) {
    const {input, setting} = row;
    input.addEventListener('input', () => { input.dataset.dirty = '1'; });
    input.addEventListener('change', () => {
      delete input.dataset.dirty;
      const text = input.value.trim();
      if (text === '') { needsNumber(setting.key); setControls(setting.key, believed(setting.key)); return; }
      changeFrom(input, setting.key, text, false);
    });
  }

  function wireColor(row) {
    const key = row.setting.key;
    row.picker.addEventListener('input', () => {
      paintSwatch(row, row.picker.value);
      changeFrom(row.picker, key, colorText(row), true);
    });
    row.picker.addEventListener('change', () => {
      if (!burst || burst.control !== row.picker) changeFrom(row.picker, key, colorText(row), true);
      endBurst();
    });
    for (const [field, what] of [[row.channel3, key + ' channel 3'], [row.number, key + ' number']]) {
      field.addEventListener('input', () => { field.dataset.dirty = '1'; });
      field.addEventListener('change', () => {
        delete field.dataset.dirty;
        if (field.value.trim() === '') { needsNumber(what); setControls(key, believed(key)); return; }
        changeFrom(field, key, colorText(row), false);
      });
    }
  }

  // ---- showing the state ---------------------------------------------------------------------

  const hex2 = (n) => Number(n).toString(16).padStart(2, '0');
  const pickerValue = (channels) => '#' + channels.slice(0, 3).map(hex2).join('');

  function paintSwatch(row, color) {
    row.swatch.style.setProperty('background-color', color);
  }

  // Puts a value text into a setting's controls (fields the player is typing in are left alone).
  function setControls(key, value) {
    const row = rows.get(key);
    const put = (input, text) => { if (!input.dataset.dirty && input.value !== text) input.value = text; };
    if (row.setting.kind === 'float') {
      put(row.input, value);
    } else {
      const fields = value.split(/\s+/);
      const picked = pickerValue(fields.slice(0, 3));
      if (!burst || burst.control !== row.picker) put(row.picker, picked);
      put(row.channel3, fields[3]);
      put(row.number, fields[4]);
      paintSwatch(row, row.picker.value);
      row.channelsText.textContent = fields.slice(0, 3).join(' ');
    }
  }

  function show(next, {force}) {
    const first = !state;
    state = next;
    if (first) build(next);
    $('subject').textContent = next.subject || '';
    $('closing').textContent = next.closing || '';
    $('file').textContent = next.file || '';
    $('backup').textContent = next.backup || '';
    $('backup-line').hidden = !next.backup;
    document.title = 'Glimmerward settings' + (next.closing ? ' – ' + next.closing : '');

    const remarks = $('remarks');
    remarks.replaceChildren();
    for (const remark of next.remarks || []) {
      remarks.append(el('li', {class: remark.warning ? 'warn' : '', text: remark.text}));
    }
    if (next.fromFile) remarks.append(el('li', {text: next.fromFile}));

    const problems = $('problems');
    problems.replaceChildren();
    const byKey = new Map();
    for (const text of next.fileProblems || []) problems.append(el('li', {class: 'problem', text}));
    for (const problem of next.problems || []) {
      const where = problem.key
        ? el('a', {href: '#setting-' + problem.key, class: 'where', text: problem.where + ': ' + problem.key})
        : el('span', {class: 'where', text: problem.where});
      problems.append(el('li', {class: 'problem'}, [
        where, ' ', el('code', {text: problem.shown}),
        el('ul', {}, (problem.warnings || []).map((text) => el('li', {text})))]));
      if (problem.key) {
        if (!byKey.has(problem.key)) byKey.set(problem.key, []);
        byKey.get(problem.key).push(...(problem.warnings || []).map((text) => problem.where + ': ' + text));
      }
    }
    $('summary-title').classList.toggle('has-problems', problems.childElementCount > 0);

    for (const setting of next.settings) {
      const row = rows.get(setting.key);
      if (!row) continue;
      row.setting = setting;
      const waiting = queue.has(setting.key) || (inFlight && inFlight.changes.has(setting.key));
      if (force) for (const input of row.inputs) delete input.dataset.dirty;
      if (force || !waiting) setControls(setting.key, setting.value);
      row.origin.textContent = setting.line ? 'line ' + setting.line : 'default';
      row.origin.title = setting.line ? 'Set in line ' + setting.line + ' of the file' : 'Not in the file: the default applies';
      row.defaultText.textContent = setting.default;
      if (setting.kind === 'color') paintSwatchDefault(row, setting.default.split(/\s+/));
      const atDefault = setting.value === setting.default;
      // Still focusable at the default, so that the keyboard's place is kept after a click.
      row.reset.setAttribute('aria-disabled', String(atDefault));
      row.node.classList.toggle('changed', !atDefault);
      const warnings = byKey.get(setting.key) || [];
      row.warnings.replaceChildren(...warnings.map((text) => el('li', {text})));
      row.warnings.hidden = warnings.length === 0;
      row.node.classList.toggle('has-problem', warnings.length > 0);
    }
  }

  function paintSwatchDefault(row, channels) {
    row.defaultSwatch.style.setProperty('background-color', pickerValue(channels));
  }

  // The rows, once: the settings and their order never change while the page is open.
  function build(first) {
    const groups = $('groups');
    // The groups in the server's order; a setting in none of them still gets one of its own.
    const byGroup = new Map((first.groups || []).map((name) => [name, []]));
    for (const setting of first.settings) {
      if (!byGroup.has(setting.group)) byGroup.set(setting.group, []);
      byGroup.get(setting.group).push(setting);
    }
    let n = 0;
    for (const [name, settings] of byGroup) {
      if (settings.length === 0) continue;
      const id = 'group-' + n++;
      const list = el('div', {class: 'rows'});
      const section = el('section', {class: 'group', 'aria-labelledby': id}, [el('h2', {id, text: name})]);
      if (settings[0].kind === 'color') {
        section.append(el('p', {class: 'note', text:
          'Each colour entry is four channels, whole numbers from 0 to 255, and a number. What the game makes of each channel is not known: ' +
          'the swatches and colour pickers draw channels 0, 1 and 2 as if they were red, green and blue. That is an assumption, not a fact about the game.'}));
        section.classList.add('colors');
      }
      if (settings[0].kind === 'color') {
        list.append(el('div', {class: 'setting head', 'aria-hidden': 'true'}, [
          el('span', {text: 'Entry'}),
          el('div', {class: 'controls'}, [
            el('span', {class: 'field', text: 'Channels 0–2, drawn as red, green, blue (assumed)'}),
            el('span', {class: 'field', text: 'Channel 3'}),
            el('span', {class: 'field', text: 'Number'})]),
          el('span', {text: 'From, default'}), el('span')]));
      }
      section.append(list);
      for (const setting of settings) list.append(buildRow(setting));
      groups.append(section);
    }
  }

  function buildRow(setting) {
    const key = setting.key;
    const id = 'value-' + key;
    const descId = 'desc-' + key;
    const row = {setting, inputs: []};
    const name = el('div', {class: 'name'}, [
      el('label', {class: 'key', for: id, text: key}),
      el('span', {class: 'dot', 'aria-hidden': 'true', title: 'Not the default'}),
      el('p', {class: 'desc', id: descId, text: setting.description || ''})]);
    let controls;
    if (setting.kind === 'float') {
      row.input = el('input', {id, type: 'number', step: 'any', inputmode: 'decimal', 'aria-describedby': descId, class: 'num'});
      row.inputs.push(row.input);
      controls = el('div', {class: 'controls'}, [row.input]);
      wireFloat(row);
    } else {
      row.swatch = el('span', {class: 'swatch', 'aria-hidden': 'true'});
      row.channelsText = el('span', {class: 'channels', 'aria-hidden': 'true'});
      row.picker = el('input', {id, type: 'color', class: 'picker', 'aria-label': key + ' channels 0 to 2',
        title: 'Channels 0, 1 and 2, drawn as red, green and blue (assumed)', 'aria-describedby': descId});
      row.channel3 = el('input', {type: 'number', min: '0', max: '255', step: '1', class: 'num small',
        'aria-label': key + ' channel 3', id: 'ch3-' + key});
      row.number = el('input', {type: 'number', step: 'any', inputmode: 'decimal', class: 'num small',
        'aria-label': key + ' number', id: 'num-' + key});
      row.inputs.push(row.picker, row.channel3, row.number);
      // The group's header row names these columns for the eye; each control has its own name.
      controls = el('div', {class: 'controls'}, [
        el('span', {class: 'field'}, [row.swatch, row.picker, row.channelsText]),
        el('span', {class: 'field'}, [row.channel3]),
        el('span', {class: 'field'}, [row.number])]);
      wireColor(row);
    }
    row.origin = el('span', {class: 'origin'});
    row.defaultText = el('span', {class: 'default-value'});
    const defaultParts = [el('span', {class: 'tiny', text: 'default '}), row.defaultText];
    if (setting.kind === 'color') {
      row.defaultSwatch = el('span', {class: 'swatch mini', 'aria-hidden': 'true'});
      defaultParts.unshift(row.defaultSwatch);
    }
    row.reset = el('button', {type: 'button', class: 'reset', 'aria-label': 'Set ' + key + ' back to its default', text: 'Default'});
    row.reset.addEventListener('click', () => {
      if (believed(key) === row.setting.default) {
        notice('info', key + ' already has its default, ' + row.setting.default + '.');
        return;
      }
      changeFrom(row.reset, key, {reset: true}, false);
    });
    row.warnings = el('ul', {class: 'row-warnings', hidden: ''});
    const meta = el('div', {class: 'meta'}, [
      el('span', {class: 'from'}, [el('span', {class: 'tiny', text: 'from '}), row.origin]),
      el('span', {class: 'def'}, defaultParts)]);
    row.node = el('div', {class: 'setting', id: 'setting-' + key, 'data-key': key},
      [name, controls, meta, row.reset, row.warnings]);
    rows.set(key, row);
    return row.node;
  }

  // ---- the notice area -----------------------------------------------------------------------

  // `text` is one sentence or several, each a line of its own.
  function notice(kind, text) {
    const status = $('status');
    const time = new Date().toLocaleTimeString([], {hour: '2-digit', minute: '2-digit', second: '2-digit'});
    status.className = 'status ' + kind;
    const lines = [].concat(text).map((line, i) => el('span', {class: i ? 'advice' : '', text: line}));
    status.replaceChildren(el('span', {class: 'time', text: time}), ' ', el('span', {class: 'message'}, lines));
  }

  // ---- search, links, start ------------------------------------------------------------------

  function filter() {
    const words = $('search').value.trim().toLowerCase();
    let shown = 0;
    for (const [key, row] of rows) {
      const match = key.toLowerCase().includes(words);
      row.node.hidden = !match;
      if (match) shown++;
    }
    for (const section of document.querySelectorAll('.group')) {
      section.hidden = !section.querySelector('.setting:not([hidden])');
    }
    $('no-match').hidden = shown > 0;
  }

  // A problem's link: the setting is shown (whatever the search) and its first control focused.
  function follow(event) {
    const link = event.target.closest('a[href^="#setting-"]');
    if (!link) return;
    const row = rows.get(link.getAttribute('href').slice('#setting-'.length));
    if (!row) return;
    event.preventDefault();
    if (row.node.hidden) { $('search').value = ''; filter(); }
    row.node.scrollIntoView({block: 'center'});
    row.inputs[0].focus({preventScroll: true});
    history.replaceState(null, '', '#setting-' + row.setting.key);
  }

  async function start() {
    $('search').addEventListener('input', filter);
    $('undo').addEventListener('click', () => step('undo'));
    $('redo').addEventListener('click', () => step('redo'));
    $('problems').addEventListener('click', follow);
    // Ctrl+Z and Ctrl+Y (or Ctrl+Shift+Z) as the buttons, except in a field being typed in,
    // where they keep undoing the typing.
    document.addEventListener('keydown', (event) => {
      if (!(event.ctrlKey || event.metaKey) || event.altKey) return;
      const typing = event.target.matches && event.target.matches('input[type="number"], input[type="search"]');
      const letter = event.key.toLowerCase();
      if (typing || (letter !== 'z' && letter !== 'y')) return;
      event.preventDefault();
      step(letter === 'y' || event.shiftKey ? 'redo' : 'undo');
    });
    if (!SECRET) {
      $('closing').textContent = 'This address has no key.';
      notice('error', 'Open the page with the whole address that glimmerward-check --page shows, key included.');
      return;
    }
    try {
      const {status, answer} = await api('/api/state');
      if (status !== 200) throw new Error(answer.refusal || 'status ' + status);
      show(answer, {force: true});
      updateUndo();
      notice('info', 'Each change you make here is written to the settings file at once, and the game picks it up while it runs.');
      if (location.hash) {
        const target = document.querySelector(location.hash.replace(/[^#\w-]/g, ''));
        if (target) target.scrollIntoView({block: 'center'});
      }
    } catch (error) {
      $('closing').textContent = 'The settings could not be loaded.';
      notice('error', 'glimmerward-check did not give the settings (' + (error.message || error) +
        '). Start it again with --page and open the address it shows.');
      return;
    }
    setTimeout(poll, POLL_MS);
  }

  start();
})();
