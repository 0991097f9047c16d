(function(){
'use strict';
var DASH='\u2014',DOTS='\u2026';

// Storage may be refused outright (privacy modes throw on access): every read
// then counts as absent, so the page still works without the fallbacks.
function stored(key){
  try{return window.localStorage.getItem(key)}catch(e){return null}
}
function store(key,value){
  try{window.localStorage.setItem(key,value)}catch(e){}
}
function storageReadable(){
  try{window.localStorage.getItem('kelm_theme');return true}catch(e){return false}
}

var P=new URLSearchParams(location.search);
function param(name){return P.get(name)||''}
var HUB=param('plugin');
var node=param('node');
var sid=param('id');
var pwd=param('pwd');
if(!pwd&&node)pwd=stored('kelm_pwd_'+node)||'';
if(!pwd)pwd=stored('kelm_active_pwd')||'';

var DATA={containers:[],summary:{}};
var LOG_CID='',LOG_NAME='';
// Requests are neither serialised nor cancelled. Each carries a sequence
// number of its kind, and a reply older than the one already shown is
// dropped, so a slow reply never overwrites what a newer one showed.
var listSent=0,listShown=0,logSent=0,logShown=0;

// Live view and log following. Both ask the program again on a timer that
// starts when the previous request ended, so a slow engine is never asked
// twice at once, and both rest while the page is hidden.
var LIVE_EVERY=5000,LIVE_RETRY=30000,FOLLOW_EVERY=2000;
var LIVE=false,liveTimer=0,listsOut=0,listEnded=0,liveFailed=false;
var FOLLOW=false,followTimer=0,logsOut=0,logEnded=0;
function now(){return performance.now()}
function visible(){return document.visibilityState!=='hidden'}

function $(id){return document.getElementById(id)}
function str(v){return v===undefined||v===null?'':String(v)}
function txt(id,v){$(id).textContent=(v===undefined||v===null||v==='')?DASH:String(v)}
function el(tag,cls,text){
  var e=document.createElement(tag);
  if(cls)e.className=cls;
  if(text!==undefined)e.textContent=text;
  return e;
}
function badge(text,good){
  var b=$('badge');
  b.textContent=text;
  b.className=good?'pill on':'pill off';
}
function note(text){$('note').textContent=text}
function failText(e){return 'request failed: '+String(e)}

function theme(t){
  if(!t)return;
  document.documentElement.setAttribute('data-theme',t);
  store('kelm_theme',t);
}

var base=HUB?'/plugins?plugin='+HUB:'/hullmon';
function withCtx(u){
  if(node)u+='&node='+encodeURIComponent(node);
  if(sid)u+='&id='+encodeURIComponent(sid);
  if(pwd)u+='&pwd='+encodeURIComponent(pwd);
  return u;
}
function url(action,extra){return withCtx(base+'?action='+encodeURIComponent(action)+(extra||''))}
// A browser refuses a header value outside ISO-8859-1, and with it the whole
// request: such a password travels in the pwd parameter alone.
function fitsHeader(s){
  for(var i=0;i<s.length;i++)if(s.charCodeAt(i)>0xff)return false;
  return true;
}
function headers(post){
  var h={};
  if(pwd&&fitsHeader(pwd))h['X-Kelm-Password']=pwd;
  if(post)h['Content-Type']='application/x-www-form-urlencoded';
  return h;
}
// Error replies carry JSON bodies too, so the body is parsed whatever the status.
function get(u){
  return fetch(u,{headers:headers(false)}).then(function(r){return r.json()});
}
function post(u,body){
  return fetch(u,{method:'POST',headers:headers(true),body:body}).then(function(r){return r.json()});
}

// A list whose listing the program could answer: its rows are the node's.
function listingOk(j){return !!(j&&j.runtime&&j.runtime.available&&j.daemon_available!==false)}

// Asks for one list. With usage false the program runs the listing alone
// (fast on every engine), and the rows show without CPU and memory figures.
// Both lists of one refresh share its number: a reply is shown when no
// newer refresh has shown one, and of one refresh the full list's reply
// wins over the listing's, whichever comes first. The replies of full lists
// feed the usage history.
var listShownFull=false;
function askList(usage,my,then){
  var sent=now();
  listsOut++;
  function ended(failed){
    listsOut--;
    listEnded=now();
    if(usage){
      liveFailed=failed;
      if(!failed)tookFull(listEnded-sent);
    }
    if(then)then();
    liveSchedule();
  }
  function fresh(){
    if(my<listShown||(my===listShown&&(listShownFull||!usage)))return false;
    listShown=my;
    listShownFull=usage;
    return true;
  }
  get(url('list',usage?'':'&usage=0')).then(function(j){
    ended(!listingOk(j));
    if(fresh())showList(j||{},usage);
  },function(e){
    ended(true);
    if(!fresh())return;
    badge('error',false);
    note(failText(e));
  });
}

// The user's refresh (and the first one): the listing alone and the full
// list are asked nearly together, so the rows come as soon as the listing is
// done and CPU and memory follow when the slower usage command is. The
// listing gets a head start of LIST_HEAD_START ms (or until its reply, if
// that is sooner): on a node of two cores its runtime client then starts
// before the usage command's two, and Docker Engine's rows came sooner with
// the figures no later: the usage command takes about 2 s there anyway
// (docs/PERFORMANCE.md).
// Where the last full list of this page answered within LIST_SPLIT_MIN ms
// (podman, which lists and measures in a fraction of a second but runs its
// commands one at a time), a refresh asks for the full list alone: the
// extra listing would only queue before it. That time is kept in local
// storage for each node, so a later visit to the page starts the same way;
// only the first visit, when nothing is known of the engine yet, asks both.
var LIST_HEAD_START=120,LIST_SPLIT_MIN=750;
var LIST_MS_KEY='hullmon_list_ms_'+node;
var fullTook=(function(v){var n=v===null?NaN:Number(v);return isFinite(n)&&n>=0?n:-1})(stored(LIST_MS_KEY));
function tookFull(ms){
  fullTook=ms;
  store(LIST_MS_KEY,String(Math.round(ms)));
}
function refresh(){
  var my=++listSent,asked=false,timer=0;
  if(fullTook>=0&&fullTook<LIST_SPLIT_MIN){askList(true,my);return}
  function full(){
    if(asked)return;
    asked=true;
    clearTimeout(timer);
    askList(true,my);
  }
  timer=setTimeout(full,LIST_HEAD_START);
  askList(false,my,full);
}
function liveList(){askList(true,++listSent)}

// The figures of the last full list shown, by id and state: a list without
// usage keeps showing them for the rows it shares with it until the next
// full list comes, as the page did before it asked for the listing alone.
var LAST_USAGE=new Map();
function carryUsage(list,full){
  if(full){
    LAST_USAGE=new Map();
    list.forEach(function(c){
      if(c&&(str(c.cpu)||str(c.mem)))LAST_USAGE.set(str(c.id),{state:str(c.state),cpu:c.cpu,mem:c.mem});
    });
    return;
  }
  list.forEach(function(c){
    var u=c&&!str(c.cpu)&&!str(c.mem)&&LAST_USAGE.get(str(c.id));
    if(u&&u.state===str(c.state)){c.cpu=u.cpu;c.mem=u.mem}
  });
}

function showList(j,full){
  DATA=j;
  if(listingOk(DATA))carryUsage(containers(),full);
  var s=DATA.summary||{};
  txt('k-total',s.total);
  txt('k-run',s.running);
  txt('k-exit',s.exited);
  txt('k-pause',s.paused);
  var rt=DATA.runtime||{};
  $('k-rt').textContent=rt.available?(str(rt.label)||'yes'):'none';
  if(!rt.available){
    badge('no runtime',false);
    note(str(DATA.message)||'neither docker nor podman found on this node');
  }else if(DATA.daemon_available===false){
    badge('daemon down',false);
    note(str(DATA.error)||'runtime daemon is not reachable');
  }else{
    badge(str(rt.label)||'ready',true);
    note((s.total===undefined||s.total===null?0:s.total)+' container(s) on this node');
  }
  if(listingOk(DATA))remember(containers(),full);
  sync();
  render();
}

// --- live view -----------------------------------------------------------

// Plans the next live list: 5 s after the last list ended (30 s after a
// failed one), only while live is on, the page is visible and no list is
// out. Every list's end and every change of those conditions plans again.
function liveSchedule(){
  clearTimeout(liveTimer);
  liveTimer=0;
  if(!LIVE||!visible()||listsOut>0)return;
  var wait=(liveFailed?LIVE_RETRY:LIVE_EVERY)-(now()-listEnded);
  liveTimer=setTimeout(function(){
    liveTimer=0;
    if(LIVE&&visible()&&listsOut===0)liveList();
  },Math.max(0,wait));
}

// A toggle button says its state in its text and to assistive technology.
function showToggle(id,label,on){
  var b=$(id);
  b.textContent=label+(on?': on':': off');
  b.setAttribute('aria-pressed',on?'true':'false');
  b.classList.toggle('on',on);
}

function setLive(on){
  LIVE=on;
  showToggle('liveBtn','Live',on);
}

// --- usage history -------------------------------------------------------

// The last HIST_MAX samples of CPU (percent) and memory (bytes in use) of
// each container id, from full lists, in memory only.
var HIST_MAX=60;
var HIST=new Map();
var NO_HISTORY={cpu:[],mem:[]};
function samplesOf(id){return HIST.get(id)||NO_HISTORY}
var UNIT={b:1,kb:1e3,kib:1024,mb:1e6,mib:1048576,gb:1e9,gib:1073741824,tb:1e12,tib:1099511627776};

function cpuValue(t){
  var m=/^\s*([0-9]+(?:\.[0-9]+)?)\s*%/.exec(t);
  return m?parseFloat(m[1]):null;
}
// The used part of a usage text such as "800KiB / 23.54GiB", in bytes.
function memValue(t){
  var m=/^\s*([0-9]+(?:\.[0-9]+)?)\s*([kKMGT]?i?B)\b/.exec(t);
  if(!m)return null;
  var f=UNIT[m[2].toLowerCase()];
  return f===undefined?null:parseFloat(m[1])*f;
}

function containers(){return Array.isArray(DATA.containers)?DATA.containers:[]}

// Takes one sample per container from a full list, and forgets every id
// the list no longer holds.
function remember(list,full){
  var seen=new Set();
  list.forEach(function(c){
    if(!c)return;
    var id=str(c.id);
    seen.add(id);
    if(!full)return;
    var cpu=cpuValue(str(c.cpu)),mem=memValue(str(c.mem));
    if(cpu===null&&mem===null)return;
    var h=HIST.get(id);
    if(!h){h={cpu:[],mem:[]};HIST.set(id,h)}
    if(cpu!==null)push(h.cpu,cpu);
    if(mem!==null)push(h.mem,mem);
  });
  HIST.forEach(function(h,id){if(!seen.has(id))HIST.delete(id)});
}
function push(a,v){
  a.push(v);
  if(a.length>HIST_MAX)a.splice(0,a.length-HIST_MAX);
}

function percent(v){return (Math.round(v*100)/100)+'%'}
function bytes(v){
  var u=['B','KiB','MiB','GiB','TiB'],i=0;
  while(v>=1024&&i<u.length-1){v/=1024;i++}
  return (Math.round(v*10)/10)+' '+u[i];
}

var SVG='http://www.w3.org/2000/svg',SPARK_W=60,SPARK_H=16;
// A small line of the samples, lowest at the bottom, highest at the top; its
// title names both.
function spark(values,what,show){
  var lo=Math.min.apply(null,values),hi=Math.max.apply(null,values);
  var span=hi-lo,step=SPARK_W/(values.length-1),pts=[];
  values.forEach(function(v,i){
    var y=span>0?SPARK_H-1-(v-lo)/span*(SPARK_H-2):SPARK_H/2;
    pts.push((i*step).toFixed(1)+','+y.toFixed(1));
  });
  var svg=document.createElementNS(SVG,'svg');
  svg.setAttribute('class','spark');
  svg.setAttribute('width',SPARK_W);
  svg.setAttribute('height',SPARK_H);
  svg.setAttribute('viewBox','0 0 '+SPARK_W+' '+SPARK_H);
  svg.setAttribute('role','img');
  var label=what+' lowest '+show(lo)+', highest '+show(hi);
  svg.setAttribute('aria-label',label);
  var title=document.createElementNS(SVG,'title');
  title.textContent=label;
  svg.appendChild(title);
  var line=document.createElementNS(SVG,'polyline');
  line.setAttribute('points',pts.join(' '));
  svg.appendChild(line);
  return svg;
}

function lowState(c){return str(c.state).toLowerCase()}

// The table keeps one row per container across lists, keyed by id, and a
// new list changes only the cells that changed. So filling in CPU and memory,
// or a live refresh, leaves the rows, their focus and the scroll where they
// are. A node may hold thousands of containers: the table draws the first
// DRAW_STEP rows that pass the filter and more as the user scrolls to its
// end, and a row is built only when first drawn, so a list reply and every
// keystroke in the search box cost the rows in view, not the node's.
var ROWS=new Map();
var DRAW_STEP=200,drawLimit=DRAW_STEP,drawnFilter=null;

// A row's buttons show only their operation; read out of the table, each
// also names its container (its 12-character id when it has no name).
function rowName(c){return str(c.name)||str(c.id).slice(0,12)}
function rowLabel(b,c){b.setAttribute('aria-label',b.textContent+' '+rowName(c))}

function rowButton(r,text,cls,onClick){
  var b=el('button',cls,text);
  b.type='button';
  rowLabel(b,r.c);
  b.addEventListener('click',function(){onClick(r.c)});
  return b;
}
function opButton(r,op,cls){return rowButton(r,op,cls,function(c){act(c,op)})}

function fillRow(r){
  var c=r.c,st=lowState(c),tr=r.tr;
  while(tr.firstChild)tr.removeChild(tr.firstChild);
  tr.appendChild(el('td','mono',str(c.id).slice(0,12)));
  tr.appendChild(el('td','',str(c.name)));
  tr.appendChild(el('td','mono',str(c.image)));
  var sc=el('td');
  sc.appendChild(el('span','state '+st,str(c.state)));
  tr.appendChild(sc);
  r.cpuTd=el('td','mono');
  r.memTd=el('td','mono');
  tr.appendChild(r.cpuTd);
  tr.appendChild(r.memTd);
  var acts=el('div','acts');
  if(st==='running'){
    acts.appendChild(opButton(r,'stop','sm danger'));
    acts.appendChild(opButton(r,'restart','sm ghost'));
  }else{
    acts.appendChild(opButton(r,'start','sm'));
  }
  acts.appendChild(rowButton(r,'logs','sm ghost',openLogs));
  var ac=el('td');
  ac.appendChild(acts);
  tr.appendChild(ac);
  r.drawnSig=r.sig;
  r.drawnUsage=null;
}

function usageCell(td,text,samples,what,show){
  td.textContent=text||DASH;
  if(samples&&samples.length>=2){
    td.appendChild(document.createTextNode(' '));
    td.appendChild(spark(samples,what,show));
  }
}

// Brings a row's cells up to its container and usage history; builds the
// row on its first drawing.
function drawRow(r){
  if(!r.tr){r.tr=el('tr');r.drawnSig=null}
  if(r.drawnSig!==r.sig)fillRow(r);
  if(r.drawnUsage!==r.usage){
    var h=samplesOf(str(r.c.id));
    r.drawnUsage=r.usage;
    usageCell(r.cpuTd,str(r.c.cpu),h.cpu,'CPU',percent);
    usageCell(r.memTd,str(r.c.mem),h.mem,'memory',bytes);
  }
  return r.tr;
}

// Takes DATA in: new containers get an entry, gone ones lose theirs, and
// each entry notes what its row must show.
function sync(){
  var next=new Map(),count=new Map();
  containers().forEach(function(c){
    if(!c)return;
    var id=str(c.id);
    // Ids are unique on a node; should one repeat, each row still gets its own.
    var n=count.get(id)||0;
    count.set(id,n+1);
    var key=n?id+'#'+n:id;
    var r=ROWS.get(key)||{tr:null};
    r.c=c;
    r.sig=[id,str(c.name),str(c.image),str(c.state)].join('\n');
    r.hay=[str(c.name),str(c.image),id,str(c.ports)].join(' ').toLowerCase();
    r.st=lowState(c);
    var h=samplesOf(id);
    r.usage=[str(c.cpu),str(c.mem),h.cpu.length,h.cpu[h.cpu.length-1],h.mem.length,h.mem[h.mem.length-1]].join('\n');
    next.set(key,r);
  });
  ROWS=next;
}

function render(){
  var tb=$('rows');
  var want=$('state').value;
  var q=$('q').value.trim().toLowerCase();
  // A new filter starts again from its first rows; a new list keeps as many
  // drawn as before, so the scroll position stays.
  var filter=want+'\n'+q;
  if(filter!==drawnFilter){drawnFilter=filter;drawLimit=DRAW_STEP}
  var shown=[],matched=0;
  ROWS.forEach(function(r){
    if(want&&r.st!==want)return;
    if(q&&r.hay.indexOf(q)<0)return;
    matched++;
    if(shown.length<drawLimit)shown.push(drawRow(r));
  });
  // Rows that stay are left in place (a focused button keeps its focus);
  // the others leave and the new ones go where they belong.
  var keep=new Set(shown);
  for(var n=tb.firstChild;n;){
    var after=n.nextSibling;
    if(!keep.has(n))tb.removeChild(n);
    n=after;
  }
  var at=tb.firstChild;
  shown.forEach(function(tr){
    if(tr===at)at=at.nextSibling;
    else tb.insertBefore(tr,at);
  });
  $('empty').classList.toggle('hide',matched>0);
  var more=$('more');
  more.classList.toggle('hide',matched<=shown.length);
  more.textContent=matched>shown.length?'Showing '+shown.length+' of '+matched+' containers; scroll for more.':'';
  // Observing again reports at once whether the end of the table is still
  // in view, so a tall window fills up step by step.
  if(moreSeen){
    moreSeen.unobserve(more);
    if(matched>shown.length)moreSeen.observe(more);
  }
}

var moreSeen=window.IntersectionObserver?new IntersectionObserver(function(es){
  if(!es.some(function(e){return e.isIntersecting}))return;
  drawLimit+=DRAW_STEP;
  render();
},{rootMargin:'0px 0px 400px 0px'}):null;

function act(c,op){
  var who=str(c.name)||str(c.id);
  var label=op+' '+who;
  if(op!=='start'&&!window.confirm(label+'?'))return;
  post(url('control'),'op='+encodeURIComponent(op)+'&cid='+encodeURIComponent(str(c.id))).then(function(j){
    j=j||{};
    if(j.ok!==true){
      var out=str(j.output);
      note((str(j.error)||'failed')+(out?': '+out:''));
    }else{
      note(label+' ok');
    }
    refresh();
  },function(e){
    note(failText(e));
  });
}

// While the logs are followed the view stays at the bottom, unless the user
// has scrolled up to read; an unchanged text is not set again, so a
// selection in it survives.
function showLogText(t){
  var b=$('logBody');
  if(b.textContent===t)return;
  var bottom=b.scrollTop+b.clientHeight>=b.scrollHeight-4;
  b.textContent=t;
  if(FOLLOW&&bottom)b.scrollTop=b.scrollHeight;
}

function showLogReply(j){
  j=j||{};
  showLogText(j.ok===true?(str(j.text)||'(empty)'):'error: '+(str(j.error)||'unknown'));
}

// A logs reply is shown only while its container is still the one opened and
// no newer logs reply has been shown.
function fetchLogs(cid,keepOnFailure){
  var my=++logSent;
  function current(){return cid===LOG_CID&&my>logShown}
  function ended(){
    logsOut--;
    logEnded=now();
    followSchedule();
  }
  logsOut++;
  get(url('logs','&cid='+encodeURIComponent(cid))).then(function(j){
    ended();
    if(!current())return;
    logShown=my;
    showLogReply(j);
  },function(e){
    ended();
    if(keepOnFailure||!current())return;
    logShown=my;
    showLogText(failText(e));
  });
}

function logCardOpen(){return !$('logCard').classList.contains('hide')}

// Plans the next logs request of a followed card: 2 s after the last reply,
// one request at a time, only while the card is open and the page visible.
function followSchedule(){
  clearTimeout(followTimer);
  followTimer=0;
  if(!FOLLOW||!LOG_CID||!logCardOpen()||!visible()||logsOut>0)return;
  followTimer=setTimeout(function(){
    followTimer=0;
    if(FOLLOW&&LOG_CID&&logCardOpen()&&visible()&&logsOut===0)fetchLogs(LOG_CID,true);
  },Math.max(0,FOLLOW_EVERY-(now()-logEnded)));
}

function setFollow(on){
  FOLLOW=on;
  showToggle('logFollow','Follow',on);
  // Following starts from the newest lines, as a terminal's tail does.
  if(on){var body=$('logBody');body.scrollTop=body.scrollHeight}
  followSchedule();
}

function openLogs(c){
  // Following belongs to one container: switching to another stops it.
  if(str(c.id)!==LOG_CID)setFollow(false);
  LOG_CID=str(c.id);
  LOG_NAME=str(c.name)||LOG_CID;
  logOpener='logs '+rowName(c);
  $('logCard').classList.remove('hide');
  $('logTitle').textContent='Logs '+DASH+' '+LOG_NAME+' (last 100 lines)';
  $('logBody').textContent='loading'+DOTS;
  fetchLogs(LOG_CID,false);
}

// Closing the card hides the control that had focus: focus goes back to the
// logs button of the container shown, while the table still lists it, so a
// keyboard user carries on where they left.
var logOpener='';
function closeLogs(){
  var card=$('logCard'),had=card.contains(document.activeElement);
  card.classList.add('hide');
  setFollow(false);
  if(!had)return;
  var bs=$('rows').querySelectorAll('button');
  for(var i=0;i<bs.length;i++)if(bs[i].getAttribute('aria-label')===logOpener){bs[i].focus();return}
}

// A browser that refuses storage keeps the theme the early theme script chose.
if(storageReadable())theme(stored('kelm_theme')||'dark');

$('themeBtn').addEventListener('click',function(){
  theme(document.documentElement.getAttribute('data-theme')==='light'?'dark':'light');
});
$('refreshBtn').addEventListener('click',refresh);
$('reloadBtn').addEventListener('click',refresh);
$('q').addEventListener('input',render);
$('q').addEventListener('keydown',function(e){if(e.key==='Enter')refresh()});
$('state').addEventListener('change',render);
$('logClose').addEventListener('click',closeLogs);
$('logReload').addEventListener('click',function(){if(LOG_CID)fetchLogs(LOG_CID,true)});
$('logFollow').addEventListener('click',function(){setFollow(!FOLLOW)});
$('liveBtn').addEventListener('click',function(){
  setLive(!LIVE);
  store('hullmon_live',LIVE?'1':'0');
  liveSchedule();
});
// Hidden, the page asks nothing; shown again, it catches up at once when
// its pause was longer than the usual wait.
document.addEventListener('visibilitychange',function(){
  liveSchedule();
  followSchedule();
});

setLive(stored('hullmon_live')==='1');
setFollow(false);
refresh();
})();
