(function(){
var d=document.documentElement;
window.qvApplyTheme=function(t){
if(t!=='light'&&t!=='dark')return;
if(d.getAttribute('data-theme')===t)return;
d.setAttribute('data-theme',t);
try{localStorage.setItem('kelm_theme',t)}catch(e){}
try{window.dispatchEvent(new CustomEvent('kelm-theme',{detail:t}))}catch(e){}
};
window.qvTheme=function(){
var t=d.getAttribute('data-theme');
return t==='light'||t==='dark'?t:'dark';
};
window.addEventListener('message',function(e){
var m=e.data;
if(m&&typeof m==='object'&&m.type==='qv-theme')window.qvApplyTheme(m.theme);
});
try{if(window.parent&&window.parent!==window)window.parent.postMessage({type:'qv-theme-request'},'*')}catch(e){}
})();
