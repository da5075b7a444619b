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

  // Everything the page knows beyond its controls: the file as the server last sent it, the
  // changes waiting and in flight, what can be undone, and the notice shown. Handlers change
  // it and then call render(state); nothing else touches the page's text.
  //
  // A change is {value: text} or {reset: true}. An undo step is {entry, kind}: `entry` is what
  // one control changed (a whole drag) or what a preset applied changed, {parts, label}, with
  // `parts` mapping each key to its {before, after} change and `label` naming a preset's apply;
  // `kind` says whether the step was done, undone or redone.
  const state = {
    file: null,             // the file's state as the server last sent it
    settings: new Map(),    // key -> that state's setting
    waiting: new Map(),     // key -> the change waiting to be sent, the latest winning
    waitingSteps: [],       // the undo steps the waiting changes belong to
    inFlight: null,         // {changes, steps} while a request is out
    lastSend: {at: 0, drag: null},
    epoch: 0,               // bumped by every change sent, so an older poll answer is dropped
    undo: [],
    redo: [],
    drag: null,             // {id, control, step}: the control being dragged and its undo step
    drags: 0,
    sendTimer: 0,           // a drag's next send, while it waits for the gap
    typing: new Set(),      // fields the player is typing in: rendering leaves them alone
    pollFailures: 0,
    notice: null,           // {kind, lines, time}
    unloaded: '',           // why there is no file to show, if there is none
    actions: [],            // whole-file actions (a preset saved, applied or deleted) waiting their turn
    presets: [],            // the saved presets' names
    paste: {preview: null, text: '', asked: 0},  // the paste box's text as the server read it
  };
  const rows = new Map();   // key -> the row's controls, built once

  const valueOf = (key, change) => change.reset ? state.settings.get(key).default : change.value;

  // The value the page believes a key will have once everything sent and waiting is written.
  function believed(key) {
    const change = state.waiting.get(key) || (state.inFlight && state.inFlight.changes.get(key));
    return change ? valueOf(key, change) : state.settings.get(key).value;
  }

  function receive(file) {
    if (!state.file) build(file);
    const changed = state.file && state.file.version !== file.version;
    state.file = file;
    state.settings = new Map(file.settings.map((setting) => [setting.key, setting]));
    // What a pasted text would change depends on the file.
    if (changed && state.paste.text) setTimeout(previewPaste, 0);
  }

  // `lines`: the first is the message, any others advice, each on a line of its own.
  function notice(kind, lines) {
    const time = new Date().toLocaleTimeString([], {hour: '2-digit', minute: '2-digit', second: '2-digit'});
    state.notice = {kind, lines, time};
  }

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

  async function poll() {
    if (!state.inFlight && state.waiting.size === 0 && state.file) {
      const asked = state.epoch;
      try {
        const {status, answer} = await api('/api/state?since=' + encodeURIComponent(state.file.version));
        if (status !== 200) throw new Error(answer.refusal || 'status ' + status);
        if (state.pollFailures) notice('info', ['The settings tool answers again.']);
        state.pollFailures = 0;
        if (asked === state.epoch && !state.inFlight && state.waiting.size === 0 && !answer.unchanged &&
            answer.version !== state.file.version) {
          const was = state.file.version;
          receive(answer);
          notice('warn', [was === ''
            ? 'The settings file is there now; the page shows it.'
            : answer.version === ''
              ? 'The settings file was deleted or moved outside this page. Changes made here will make it again from the release’s defaults.'
              : 'The settings file was changed outside this page (by hand or by another program). The page now shows it as it is.']);
        }
      } catch (error) {
        if (++state.pollFailures === 2) {
          notice('error', ['The page cannot reach glimmerward-check: it may have been closed. ' +
            'Start it again with --page and open the address it shows; changes made here are not written until then.']);
        }
      }
      render(state);
    }
    setTimeout(poll, state.pollFailures > 2 ? 2000 : POLL_MS);
  }

  function enqueue(key, change, step) {
    if (!change.reset && change.value === believed(key)) return false;
    state.waiting.set(key, change);
    if (step && !state.waitingSteps.includes(step)) state.waitingSteps.push(step);
    return true;
  }

  // One request at a time, based on the last answer's version; a drag's later changes wait
  // until its last request is BURST_GAP_MS old, and whatever is waiting then goes together.
  function pump() {
    clearTimeout(state.sendTimer);
    if (state.inFlight) return;
    if (state.waiting.size === 0) return takeAction();
    // The drag these changes belong to, if any (a drag's changes are sent by themselves).
    const dragStep = state.waitingSteps.find((step) => step.drag);
    const drag = dragStep ? dragStep.drag : null;
    if (drag !== null && state.lastSend.drag === drag) {
      const wait = state.lastSend.at + BURST_GAP_MS - performance.now();
      if (wait > 0) { state.sendTimer = setTimeout(pump, wait); return; }
    }
    const changes = new Map(state.waiting);
    state.inFlight = {changes, steps: state.waitingSteps};
    state.waiting.clear();
    state.waitingSteps = [];
    state.lastSend = {at: performance.now(), drag};
    state.epoch++;
    const body = {expect: state.file.version, set: [], reset: []};
    for (const [key, change] of changes) {
      if (change.reset) body.reset.push(key);
      else body.set.push({key, value: change.value});
    }
    api('/api/change', body).then(({status, answer}) => answered(status, answer),
      (error) => answered(0, {refusal: String(error.message || error)}));
  }

  // `label`: the preset applied, when the request was one.
  function answered(status, answer, label) {
    const sent = state.inFlight;
    state.inFlight = null;
    state.epoch++;
    const outcome = answer.outcome;
    if (label && (outcome === 'written' || outcome === 'unchanged')) {
      const before = state.settings;
      if (answer.state) receive(answer.state);
      appliedWhole(label, before, outcome);
    } else if (outcome === 'written' || outcome === 'unchanged') {
      if (answer.state) receive(answer.state);
      if (outcome === 'written') {
        const done = (answer.done || []).map((line) => line.replace(/^set /, '').replace(/^reset /, ''));
        notice('ok', ['Written to the file: ' + (done.length ? done.join('; ') : 'your change') + '.']);
      } else if (state.waiting.size === 0) {
        notice('info', ['The file already said so; nothing was written.']);
      }
    } else {
      // Nothing was written: what was sent and what waits after it are dropped, the undo steps
      // they carried go back where they were, and every field shows the file again.
      const dropped = [...new Set(sent.steps.concat(state.waitingSteps))];
      state.waiting.clear();
      state.waitingSteps = [];
      state.drag = null;
      for (const step of dropped.reverse()) revertStep(step);
      if (answer.state) receive(answer.state);
      state.typing.clear();
      notice(outcome === 'stale' ? 'warn' : 'error', refusalLines(status, answer));
    }
    render(state);
    pump();
  }

  // A refused change in the server's words: its problems, and its advice on a line of its own.
  function refusalLines(status, answer) {
    // The server's sentences, each ended with a full stop.
    const sentence = (text) => /[.!?]$/.test(text.trim()) ? text.trim() : text.trim() + '.';
    if (answer.outcome) {
      const lines = ['Not written: ' + (answer.problems || []).map(sentence).join(' ')];
      if (answer.outcome === 'bad-input') lines[0] += ' The field shows the value in the file again.';
      if (answer.advice) lines.push('What to do: ' + sentence(answer.advice));
      return lines;
    }
    if (status === 0) {
      return ['Not written: the page cannot reach glimmerward-check (' + answer.refusal + '). It may have been closed; start it again with --page.'];
    }
    return ['Not written: glimmerward-check refused the change (' + status + (answer.refusal ? ': ' + answer.refusal.trim() : '') + ').'];
  }

  // ---- presets --------------------------------------------------------------------------------

  // An action that waits until every change before it is written, and goes alone, as a change
  // does: `request` sends it, `then` takes the answer.
  function whenQuiet(request, then) {
    state.actions.push({request, then});
    pump();
  }

  function takeAction() {
    const action = state.actions.shift();
    if (!action) return;
    state.inFlight = {changes: new Map(), steps: []};
    state.epoch++;
    action.request().then(({status, answer}) => action.then(status, answer),
      (error) => action.then(0, {refusal: String(error.message || error)}));
  }

  // The end of an action that wrote no settings (a preset saved or deleted).
  function actionDone() {
    state.inFlight = null;
    state.epoch++;
    render(state);
    pump();
  }

  // A preset applied: one undo step for all it changed, and what it changed in the notice.
  function appliedWhole(label, before, outcome) {
    const parts = new Map();
    for (const [key, setting] of state.settings) {
      const was = before.get(key);
      if (was && was.value !== setting.value) parts.set(key, {before: {value: was.value}, after: {value: setting.value}});
    }
    if (outcome !== 'written' || parts.size === 0) {
      notice('info', ['The settings already were those of ' + label + '; nothing was written.']);
      return;
    }
    state.undo.push({parts, label});
    state.redo.length = 0;
    const shown = [...parts].slice(0, 5).map(([key, part]) => key + ' = ' + part.after.value);
    const more = parts.size - shown.length;
    notice('ok', ['Applied ' + label + ', ' + parts.size + (parts.size === 1 ? ' setting' : ' settings') + ' changed: ' +
      shown.join('; ') + (more ? '; and ' + more + ' more' : '') + '.', 'Undo takes it back.']);
  }

  async function listPresets() {
    try {
      const {status, answer} = await api('/api/presets');
      if (status === 200 && Array.isArray(answer.presets)) state.presets = answer.presets;
    } catch (error) { /* the poll says when the checker cannot be reached */ }
    render(state);
  }

  // A preset's or the paste box's refusal, in the server's words.
  function presetRefusal(status, answer) {
    if (answer.presets) state.presets = answer.presets;
    notice('error', refusalLines(status, answer));
  }

  // Saves the current settings, or the values of a pasted text, as preset `name`; a preset of
  // that name is replaced only after the player says so.
  function savePreset(name, text, replace) {
    if (name === '') {
      notice('error', ['Not saved: give the preset a name first.']);
      return render(state);
    }
    const body = {name, replace: Boolean(replace)};
    if (text !== undefined) body.text = text;
    whenQuiet(() => api('/api/presets/save', body), (status, answer) => {
      if (answer.outcome === 'exists') {
        actionDone();
        if (confirm('A preset named “' + name + '” is there already. Replace it with ' +
            (text === undefined ? 'the current settings' : 'the pasted one') + '?')) savePreset(name, text, true);
        return;
      }
      if (answer.outcome === 'written') {
        state.presets = answer.presets || state.presets;
        notice('ok', ['Saved ' + (text === undefined ? 'the current settings' : 'the pasted preset') + ' as the preset “' + name + '”.']);
        $(text === undefined ? 'preset-name' : 'share-name').value = '';
      } else {
        presetRefusal(status, answer);
      }
      actionDone();
    });
  }

  function applyPreset(name) {
    whenQuiet(() => api('/api/presets/apply', {name, expect: state.file.version}), (status, answer) => {
      answered(status, answer, 'the preset “' + name + '”');
      // Refused: the preset may have gone meanwhile, so the list is asked for again.
      if (answer.outcome !== 'written' && answer.outcome !== 'unchanged') listPresets();
    });
  }

  function deletePreset(name) {
    if (!confirm('Delete the preset “' + name + '”? Its file is removed; the settings in use stay as they are.')) return;
    whenQuiet(() => api('/api/presets/delete', {name}), (status, answer) => {
      if (answer.outcome === 'deleted') {
        state.presets = answer.presets || state.presets.filter((listed) => listed !== name);
        notice('ok', ['Deleted the preset “' + name + '”.']);
      } else {
        presetRefusal(status, answer);
      }
      actionDone();
    });
  }

  // Puts the share text of a preset, or of the current settings without a name, on the
  // clipboard: its two header lines and the settings that differ from their defaults.
  function copyToShare(name) {
    const what = name === undefined ? 'the current settings' : 'the preset “' + name + '”';
    whenQuiet(() => api('/api/share' + (name === undefined ? '' : '?name=' + encodeURIComponent(name))), async (status, answer) => {
      if (status !== 200 || typeof answer.text !== 'string') {
        presetRefusal(status, answer);
        return actionDone();
      }
      try {
        await writeClipboard(answer.text);
        const count = answer.text.split('\n').filter((line) => line.trim() !== '' && !line.startsWith('#')).length;
        notice('ok', ['The share text of ' + what + ' is on the clipboard: ' + count +
          (count === 1 ? ' setting that differs' : ' settings that differ') + ' from the defaults, and no path or name of yours.',
          'Send it to whoever wants this look; they paste it under “Paste a shared preset”.']);
      } catch (error) {
        notice('error', ['The browser did not let the page use the clipboard (' + (error.message || error) + ').']);
      }
      actionDone();
    });
  }

  async function writeClipboard(text) {
    try {
      await navigator.clipboard.writeText(text);
    } catch (error) {
      // Older ways, where the asynchronous clipboard is refused.
      const box = el('textarea', {readonly: '', class: 'offscreen'});
      box.value = text;
      document.body.append(box);
      box.select();
      const copied = document.execCommand('copy');
      box.remove();
      if (!copied) throw error;
    }
  }

  // What the pasted text would change, as the server reads it; nothing is written.
  async function previewPaste() {
    const text = $('share-text').value;
    const asked = ++state.paste.asked;
    if (text.trim() === '') {
      state.paste.preview = null;
      state.paste.text = '';
      return render(state);
    }
    let preview;
    try {
      const {status, answer} = await api('/api/share/preview', {text});
      preview = status === 200 ? answer : {refused: true, problems: refusalLines(status, answer)};
    } catch (error) {
      preview = {refused: true, problems: ['The page cannot reach glimmerward-check (' + (error.message || error) + ').']};
    }
    if (asked !== state.paste.asked) return;
    state.paste.preview = preview;
    state.paste.text = text;
    const name = $('share-name');
    if (!name.dataset.typed) name.value = preview.name || '';
    render(state);
  }

  function applyPaste() {
    const text = state.paste.text;
    if (!state.paste.preview || state.paste.preview.refused) return;
    whenQuiet(() => api('/api/share/apply', {text, expect: state.file.version}), (status, answer) => {
      answered(status, answer, 'the pasted preset');
      previewPaste();
    });
  }

  // ---- undo and redo -------------------------------------------------------------------------

  function newStep(key) {
    const entry = {parts: new Map([[key, {before: {value: believed(key)}, after: null}]]), label: ''};
    state.undo.push(entry);
    state.redo.length = 0;
    return {entry, kind: 'do'};
  }

  // Puts a step's entry back on the stack it came from.
  function revertStep({entry, kind}) {
    const from = kind === 'undo' ? state.redo : state.undo;
    const index = from.lastIndexOf(entry);
    if (index >= 0) from.splice(index, 1);
    if (kind === 'undo') state.undo.push(entry);
    if (kind === 'redo') state.redo.push(entry);
  }

  function undoOrRedo(kind) {
    endDrag();
    const from = kind === 'undo' ? state.undo : state.redo;
    const to = kind === 'undo' ? state.redo : state.undo;
    const entry = from.pop();
    if (!entry) return;
    to.push(entry);
    const step = {entry, kind};
    let sent = false;
    for (const [key, part] of entry.parts) sent = enqueue(key, kind === 'undo' ? part.before : part.after, step) || sent;
    pump();  // all of a step's keys in one request
    if (!sent) {
      const [key] = entry.parts.keys();
      notice('info', [entry.label ? 'The file already has those values.' : 'The file already says ' + key + ' = ' + believed(key) + '.']);
    } else if (entry.label) {
      notice('info', [(kind === 'undo' ? 'Taking back ' : 'Applying again ') + entry.label + '.']);
    }
    render(state);
  }

  // ---- a player's changes --------------------------------------------------------------------

  // A change from a control; `continuing` marks a drag's `input` events, which form one step.
  function changeFrom(control, key, change, continuing) {
    let step;
    if (state.drag && state.drag.control === control) {
      step = state.drag.step;
    } else {
      endDrag();
      if (!change.reset && change.value === believed(key)) return render(state);
      step = newStep(key);
      if (continuing) {
        state.drag = {id: ++state.drags, control, step};
        step.drag = state.drag.id;
      }
    }
    step.entry.parts.get(key).after = change;
    if (!continuing) endDrag();
    enqueue(key, change, step);
    pump();
    render(state);
  }

  function endDrag() {
    if (!state.drag) return;
    state.drag = null;
    pump();
  }

  // The colour's five fields as the file writes them: channels 0-2 from the picker, channel 3
  // and the number as their fields' texts stand.
  function colorText(row) {
    const hex = row.picker.value;
    const channels = [1, 3, 5].map((at) => String(parseInt(hex.slice(at, at + 2), 16)));
    return channels.concat(row.channel3.value.trim(), row.number.value.trim()).join(' ');
  }

  // A field emptied: nothing is sent, and the field shows the value again.
  function needsNumber(what) {
    notice('error', ['Not written: ' + what + ' needs a number, such as 1.5 (with a point, not a comma). ' +
      'The field shows the value in the file again.']);
    render(state);
  }

  // A typed field: what the player types is theirs until they leave the field or press Enter.
  function wireTyped(field, done) {
    field.addEventListener('input', () => {
      state.typing.add(field);
      const {badInput, rangeOverflow, rangeUnderflow} = field.validity;
      field.classList.toggle('bad', badInput || rangeOverflow || rangeUnderflow);
    });
    field.addEventListener('change', () => {
      state.typing.delete(field);
      done(field.value.trim());
    });
  }

  function wireFloat(row) {
    const {key, input} = row;
    wireTyped(input, (text) => text === '' ? needsNumber(key) : changeFrom(input, key, {value: text}, false));
  }

  function wireColor(row) {
    const {key, picker} = row;
    picker.addEventListener('input', () => changeFrom(picker, key, {value: colorText(row)}, true));
    picker.addEventListener('change', () => {
      if (!state.drag || state.drag.control !== picker) changeFrom(picker, key, {value: colorText(row)}, true);
      endDrag();
    });
    for (const [field, what] of [[row.channel3, key + ' channel 3'], [row.number, key + ' number']]) {
      wireTyped(field, (text) => text === '' ? needsNumber(what) : changeFrom(field, key, {value: colorText(row)}, false));
    }
  }

  // ---- showing the state ---------------------------------------------------------------------

  const hex2 = (n) => Number(n).toString(16).padStart(2, '0');
  const pickerValue = (channels) => '#' + channels.slice(0, 3).map(hex2).join('');

  // What render last drew from, so that what did not change is not drawn again (a list drawn
  // again would lose the keyboard's place, and a notice would be read out twice).
  const drawn = {file: null, notice: null, presets: null, preview: null};

  function render(state) {
    if (state.file !== drawn.file) {
      drawFile(state.file);
      drawn.file = state.file;
    }
    if (!state.file && state.unloaded) $('closing').textContent = state.unloaded;
    for (const [key, row] of rows) drawControls(state, row, believed(key));
    drawUndo(state.undo[state.undo.length - 1], state.redo[state.redo.length - 1]);
    if (state.presets !== drawn.presets) {
      drawPresets(state.presets);
      drawn.presets = state.presets;
    }
    if (state.paste.preview !== drawn.preview) {
      drawPaste(state.paste.preview);
      drawn.preview = state.paste.preview;
    }
    if (state.notice !== drawn.notice) {
      drawNotice(state.notice);
      drawn.notice = state.notice;
    }
  }

  // A value text in a setting's controls, but not in a field the player is typing in, nor in
  // the picker being dragged.
  function drawControls(state, row, value) {
    const put = (input, text) => {
      if (state.typing.has(input)) return;
      if (input.value !== text) input.value = text;
      input.classList.remove('bad');
    };
    if (row.kind === 'float') {
      put(row.input, value);
      return;
    }
    const fields = value.split(/\s+/);
    if (!state.drag || state.drag.control !== row.picker) put(row.picker, pickerValue(fields));
    put(row.channel3, fields[3]);
    put(row.number, fields[4]);
    row.swatch.style.setProperty('background-color', row.picker.value);
    row.channelsText.textContent = fields.slice(0, 3).join(' ');
  }

  function drawUndo(nextUndo, nextRedo) {
    const describe = (entry, side) => {
      const [[key, part]] = entry.parts;
      const change = part[side];
      return 'set ' + key + ' to ' + (change.reset ? 'its default' : change.value);
    };
    $('undo').disabled = !nextUndo;
    $('redo').disabled = !nextRedo;
    $('undo').title = !nextUndo ? 'Nothing to undo'
      : 'Undo (Ctrl+Z): ' + (nextUndo.label ? 'take back ' + nextUndo.label : describe(nextUndo, 'before'));
    $('redo').title = !nextRedo ? 'Nothing to redo'
      : 'Redo (Ctrl+Y): ' + (nextRedo.label ? 'apply ' + nextRedo.label + ' again' : describe(nextRedo, 'after'));
  }

  function drawPresets(names) {
    $('preset-list').replaceChildren(...names.map((name) => el('li', {}, [
      el('span', {class: 'preset-name', text: name}),
      button('Apply', 'Apply the preset ' + name, () => applyPreset(name)),
      button('Copy', 'Copy the preset ' + name + ' to share', () => copyToShare(name)),
      button('Delete', 'Delete the preset ' + name, () => deletePreset(name))])));
    $('no-presets').hidden = names.length > 0;
  }

  function button(text, label, click) {
    const node = el('button', {type: 'button', 'aria-label': label, text});
    node.addEventListener('click', click);
    return node;
  }

  // The pasted text as the server read it: its problems, then what it would change.
  function drawPaste(preview) {
    const box = $('share-preview');
    $('share-confirm').hidden = !preview || preview.refused;
    if (!preview) return box.replaceChildren();
    const parts = [];
    const problems = preview.problems || [];
    if (problems.length) {
      parts.push(el('p', {class: 'problem', text: preview.refused
        ? 'This is no preset that the page can read:'
        : 'Problems in the pasted text; the game would read the rest, and only that is applied:'}));
      parts.push(el('ul', {}, problems.map((text) => el('li', {class: 'problem', text}))));
    }
    if (!preview.refused) {
      const changes = preview.changes || [];
      if (changes.length === 0) {
        parts.push(el('p', {text: 'It changes nothing: the settings already have these values.'}));
      } else {
        parts.push(el('p', {text: 'Applying it changes ' + changes.length + (changes.length === 1 ? ' setting' : ' settings') +
          ' (nothing is written until you press Apply it):'}));
        parts.push(el('table', {}, [
          el('thead', {}, [el('tr', {}, [el('th', {text: 'Setting'}), el('th', {text: 'Now'}), el('th', {text: 'Then'})])]),
          el('tbody', {}, changes.map((change) => el('tr', {}, [
            el('td', {text: change.key}), el('td', {text: change.now}), el('td', {text: change.then})])))]));
      }
      $('share-apply').disabled = changes.length === 0;
    }
    box.replaceChildren(...parts);
  }

  function drawNotice(shown) {
    const status = $('status');
    if (!shown) return status.replaceChildren();
    status.className = 'status ' + shown.kind;
    const lines = shown.lines.map((line, i) => el('span', {class: i ? 'advice' : '', text: line}));
    status.replaceChildren(el('span', {class: 'time', text: shown.time}), ' ', el('span', {class: 'message'}, lines));
  }

  // The summary, the problems and each row's origin, default and warnings.
  function drawFile(file) {
    if (!file) return;
    $('subject').textContent = file.subject || '';
    $('closing').textContent = file.closing || '';
    $('file').textContent = file.file || '';
    $('backup').textContent = file.backup || '';
    $('backup-line').hidden = !file.backup;
    document.title = 'Glimmerward settings' + (file.closing ? ' – ' + file.closing : '');

    const remarks = $('remarks');
    remarks.replaceChildren();
    for (const remark of file.remarks || []) {
      remarks.append(el('li', {class: remark.warning ? 'warn' : '', text: remark.text}));
    }
    if (file.fromFile) remarks.append(el('li', {text: file.fromFile}));

    const problems = $('problems');
    problems.replaceChildren();
    const byKey = new Map();
    for (const text of file.fileProblems || []) problems.append(el('li', {class: 'problem', text}));
    for (const problem of file.problems || []) {
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

    for (const setting of file.settings) {
      const row = rows.get(setting.key);
      if (!row) continue;
      row.origin.textContent = setting.line ? 'line ' + setting.line : 'default';
      row.origin.title = setting.line ? 'Set in line ' + setting.line + ' of the file' : 'Not in the file: the default applies';
      row.defaultText.textContent = setting.default;
      if (setting.kind === 'color') row.defaultSwatch.style.setProperty('background-color', pickerValue(setting.default.split(/\s+/)));
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
    const row = {key, kind: setting.kind, inputs: []};
    const name = el('div', {class: 'name'}, [
      el('label', {class: 'key', for: id, text: key}),
      el('span', {class: 'dot', 'aria-hidden': 'true', title: 'Not the default'}),
      el('p', {class: 'desc', id: descId, text: setting.description || ''})]);
    let controls;
    if (setting.kind === 'float') {
      row.input = el('input', {id, type: 'number', step: setting.step || 'any', inputmode: 'decimal', 'aria-describedby': descId, class: 'num'});
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
      row.number = el('input', {type: 'number', step: setting.step || 'any', inputmode: 'decimal', class: 'num small',
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
      const fallback = state.settings.get(key).default;
      if (believed(key) !== fallback) return changeFrom(row.reset, key, {reset: true}, false);
      notice('info', [key + ' already has its default, ' + fallback + '.']);
      render(state);
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
      section.hidden = !section.querySelector('.setting:not(.head):not([hidden])');
    }
    $('no-match').hidden = shown > 0;
  }

  // A problem's link: the setting is shown (whatever the search) and its first control focused.
  function follow(event) {
    const link = event.target.closest('a[href^="#setting-"]');
    if (!link) return;
    const key = link.getAttribute('href').slice('#setting-'.length);
    const row = rows.get(key);
    if (!row) return;
    event.preventDefault();
    if (row.node.hidden) { $('search').value = ''; filter(); }
    row.node.scrollIntoView({block: 'center'});
    row.inputs[0].focus({preventScroll: true});
    history.replaceState(null, '', '#setting-' + key);
  }

  function wirePresets() {
    $('preset-save').addEventListener('click', () => savePreset($('preset-name').value.trim()));
    $('preset-name').addEventListener('keydown', (event) => {
      if (event.key === 'Enter') savePreset($('preset-name').value.trim());
    });
    $('share-copy').addEventListener('click', () => copyToShare());
    $('paste-open').addEventListener('click', () => {
      const open = $('paste').hidden;
      $('paste').hidden = !open;
      $('paste-open').setAttribute('aria-expanded', String(open));
      if (open) $('share-text').focus();
    });
    let typed = 0;
    $('share-text').addEventListener('input', () => {
      clearTimeout(typed);
      typed = setTimeout(previewPaste, 250);
    });
    $('share-paste').addEventListener('click', async () => {
      try {
        $('share-text').value = await navigator.clipboard.readText();
      } catch (error) {
        notice('error', ['The browser did not let the page read the clipboard (' + (error.message || error) +
          '). Click in the box and press Ctrl+V instead.']);
        return render(state);
      }
      previewPaste();
    });
    $('share-apply').addEventListener('click', applyPaste);
    $('share-name').addEventListener('input', () => { $('share-name').dataset.typed = '1'; });
    $('share-save').addEventListener('click', () => {
      if (state.paste.preview && !state.paste.preview.refused) savePreset($('share-name').value.trim(), state.paste.text);
    });
    window.addEventListener('focus', listPresets);
  }

  async function start() {
    $('search').addEventListener('input', filter);
    $('undo').addEventListener('click', () => undoOrRedo('undo'));
    $('redo').addEventListener('click', () => undoOrRedo('redo'));
    $('problems').addEventListener('click', follow);
    wirePresets();
    // Ctrl+Z and Ctrl+Y (or Ctrl+Shift+Z) as the buttons, except in a field being typed in,
    // where they keep undoing the typing.
    document.addEventListener('keydown', (event) => {
      if (!(event.ctrlKey || event.metaKey) || event.altKey) return;
      const typing = event.target.matches && event.target.matches('input[type="number"], input[type="search"]');
      const letter = event.key.toLowerCase();
      if (typing || (letter !== 'z' && letter !== 'y')) return;
      event.preventDefault();
      undoOrRedo(letter === 'y' || event.shiftKey ? 'redo' : 'undo');
    });
    if (!SECRET) {
      state.unloaded = 'This address has no key.';
      notice('error', ['Open the page with the whole address that glimmerward-check --page shows, key included.']);
      return render(state);
    }
    try {
      const {status, answer} = await api('/api/state');
      if (status !== 200) throw new Error(answer.refusal || 'status ' + status);
      receive(answer);
      notice('info', ['Each change you make here is written to the settings file at once, and the game picks it up while it runs.']);
      render(state);
      listPresets();
      if (location.hash) {
        const target = document.querySelector(location.hash.replace(/[^#\w-]/g, ''));
        if (target) target.scrollIntoView({block: 'center'});
      }
    } catch (error) {
      state.unloaded = 'The settings could not be loaded.';
      notice('error', ['glimmerward-check did not give the settings (' + (error.message || error) +
        '). Start it again with --page and open the address it shows.']);
      return render(state);
    }
    setTimeout(poll, POLL_MS);
  }

  start();
})();
